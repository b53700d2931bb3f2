#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

/// Base of every failure the program reports to the user: it carries the text the
/// window shows and the log records. Thrown inside operations and caught at their end.
class Error : public std::exception
{
public:
    explicit Error(QString description)
        : m_description(std::move(description)), m_what(m_description.toUtf8())
    {
    }

    [[nodiscard]] const QString &description() const noexcept { return m_description; }
    [[nodiscard]] const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

/// A failure of the operating system (a folder that cannot be made, a program that
/// cannot be started), passed on with the system's own text.
class PlatformError final : public Error
{
public:
    using Error::Error;
};

/// The text of any failure: an Error's description, else what the exception says.
[[nodiscard]] QString failureDescription(const std::exception_ptr &failure);
