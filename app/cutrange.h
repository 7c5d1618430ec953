#pragma once

// The range to save, owned in one place. Marks are seconds at full precision: a mark set from
// the picture is the exact time of the frame on screen, a typed mark the typed time. Everything
// the window shows of the range (the Start and End boxes, the slider's band, the Duration label,
// the Cut button) and the start and length handed to a conversion are derived from it, so what
// is shown and what is saved cannot drift apart.
class CutRange
{
public:
    // The whole file: [0, duration). A duration of 0 or less (unknown, or nothing to play) gives
    // an empty range.
    void reset(double durationSeconds);
    // No file: an empty range at 0.
    void clear();

    // A mark set from the picture. A start at or past the end (or an end at or before the
    // start) empties the range: both marks move to the new mark, so the boxes, the band and the
    // saved start agree and the next mark starts a fresh range from there.
    void markStart(double seconds);
    void markEnd(double seconds);
    // A typed mark: taken as typed, except that an end past the end of the file is the end of
    // the file; a start past the end or an end before the start leaves the range empty (Cut
    // disabled) but keeps both texts as the user typed them.
    void typeStart(double seconds);
    void typeEnd(double seconds);

    double start() const { return m_start; }
    double end() const { return m_end; }
    double duration() const { return m_duration; }
    // end - start; may be 0 or negative for an empty range.
    double length() const { return m_end - m_start; }
    // False when nothing can be saved: the end is not after the start, or the start lies at or
    // past the end of the file.
    bool isEmpty() const;

private:
    static double sane(double seconds);

    double m_duration = 0;
    double m_start = 0;
    double m_end = 0;
};
