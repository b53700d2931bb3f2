#pragma once

#include "logentry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

/// The log as a text file a user can send to whoever supports them: UTF-8, one line per entry
/// ("2024-05-06 14:03:27.123 WARN message"). Lines are written on a thread of their own, so a
/// flood of output costs the caller one queued job per batch. Past `rotateSize` bytes the file
/// becomes "<path>.1", replacing the older one, and a new file is begun.
class LogFile final : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 defaultRotateSize = 1024 * 1024;

    /// Creates the folder of `path`; when it cannot be made, nothing is ever written.
    explicit LogFile(const QString &path, qint64 rotateSize = defaultRotateSize, QObject *parent = nullptr);
    /// Writes what is still pending, then ends the thread.
    ~LogFile() override;

    [[nodiscard]] const QString &path() const { return m_path; }
    /// False when the folder could not be made.
    [[nodiscard]] bool isUsable() const { return m_writer != nullptr; }

    /// Any thread.
    void append(QList<LogEntry> entries);
    /// Returns once everything appended so far is written.
    void flush();

    /// The entry as one line of the file, line breaks of the message written as \n and \r.
    [[nodiscard]] static QString line(const LogEntry &entry);

private:
    class Writer;

    QString m_path;
    QThread m_thread;
    std::unique_ptr<Writer> m_writer;
};
