#include "eventsound.h"

#include <canberra.h>

EventSound::~EventSound()
{
    if (m_context)
        ca_context_destroy(m_context);
}

void EventSound::playExclamation()
{
    if (m_failed)
        return;
    if (!m_context) {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            m_failed = true;
            return;
        }
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Snipora",
                                CA_PROP_APPLICATION_ID, "snipora", nullptr);
    }
    // ca_context_play returns at once; a missing event or sound server is not an error here.
    ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "dialog-warning", CA_PROP_EVENT_DESCRIPTION,
                    "File saved", nullptr);
}
