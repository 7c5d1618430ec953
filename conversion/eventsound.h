#pragma once

struct ca_context;

// The desktop's event sound, played asynchronously through libcanberra. Nothing happens when
// the sound theme lacks the event or no sound server runs.
class EventSound
{
public:
    EventSound() = default;
    ~EventSound();
    EventSound(const EventSound &) = delete;
    EventSound &operator=(const EventSound &) = delete;

    // The attention sound that goes with a finished job ("dialog-warning").
    void playExclamation();

private:
    ca_context *m_context = nullptr;
    bool m_failed = false;
};
