#include "cutrange.h"

#include <algorithm>
#include <cmath>

double CutRange::sane(double seconds)
{
    // Time codes never give a negative or undefined time; a mark stays a real, non-negative
    // number whatever reaches it.
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
}

void CutRange::reset(double durationSeconds)
{
    m_duration = sane(durationSeconds);
    m_start = 0;
    m_end = m_duration;
}

void CutRange::clear()
{
    m_duration = m_start = m_end = 0;
}

void CutRange::markStart(double seconds)
{
    m_start = sane(seconds);
    if (isEmpty())
        m_end = m_start;
}

void CutRange::markEnd(double seconds)
{
    m_end = sane(seconds);
    if (!(m_end > m_start))
        m_start = m_end;
}

void CutRange::typeStart(double seconds)
{
    m_start = sane(seconds);
}

void CutRange::typeEnd(double seconds)
{
    // The file ends there: a longer range would show a length and a band the saved file
    // cannot have, and a copy would take the missing rest for damage.
    m_end = m_duration > 0 ? std::min(sane(seconds), m_duration) : sane(seconds);
}

bool CutRange::isEmpty() const
{
    if (!(m_end > m_start))
        return true;
    return m_duration > 0 && m_start >= m_duration;
}
