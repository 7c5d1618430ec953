#pragma once

#include <QString>

#include <optional>
#include <utility>

// What went wrong, for callers to branch on. Callers never branch on an error's sentence,
// which is for the user only.
enum class ErrorCode {
    None,
    BadRequest, // what was asked makes no sense: an empty range, a value out of range
    SourceUnreadable, // the input does not exist, cannot be opened, or is not media
    SourceDamaged, // the input opens, but its data is not what it promises
    NotPossible, // the input is sound, but this job cannot be done with it
    DestinationUnusable, // the folder is missing, read-only, or went away
    DestinationFull, // the disk (or the user's quota) has no space left for the output
    OutputExists, // a file is at the output path and replacing it was not agreed
    OutputIsInput, // saving there would overwrite the input
    Stopped, // the user (or a signal) stopped the job
    EncoderFailed, // the encoder ran and did not make the file
    MediaLibraryMissing, // no ffmpeg program, or no player library
};

// A failure: its code, and one sentence a user understands, naming the file the user asked
// for. Detail (for instance the last line ffmpeg wrote) may follow on a second line that
// starts with "Details: ".
struct Error
{
    ErrorCode code = ErrorCode::None;
    QString sentence;

    bool isError() const { return code != ErrorCode::None; }
};

// A value, or the Error that kept it from being made. A Result holds exactly one of the two.
template<typename T> class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Error error)
        : m_error(std::move(error))
    {
        if (m_error.code == ErrorCode::None)
            m_error.code = ErrorCode::EncoderFailed; // an error must say it is one
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }

    // ErrorCode::None when ok().
    const Error &error() const { return m_error; }
    ErrorCode code() const { return m_error.code; }

private:
    std::optional<T> m_value;
    Error m_error;
};

// The outcome of an operation that makes no value.
template<> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
    {
        if (m_error.code == ErrorCode::None)
            m_error.code = ErrorCode::EncoderFailed;
    }

    bool ok() const { return m_error.code == ErrorCode::None; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return m_error; }
    ErrorCode code() const { return m_error.code; }

private:
    Error m_error;
};

using Outcome = Result<void>;
