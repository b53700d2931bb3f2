#include "logfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

using namespace Qt::StringLiterals;

/// Lives on the file's thread; only that thread touches the file.
class LogFile::Writer final : public QObject
{
public:
    Writer(const QString &path, qint64 rotateSize) : m_file(path), m_rotateSize(rotateSize) {}

    void write(const QList<LogEntry> &entries)
    {
        if (!m_file.isOpen() && !open())
            return; // a file we cannot write costs nothing more than the try
        QByteArray pending;
        for (const LogEntry &entry : entries) {
            const QByteArray text = (line(entry) + u'\n').toUtf8();
            if (m_size > 0 && m_size + text.size() > m_rotateSize) {
                m_file.write(pending);
                pending.clear();
                if (!rotate())
                    return;
            }
            pending += text;
            m_size += text.size();
        }
        m_file.write(pending);
        m_file.flush();
    }

private:
    bool open()
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        m_size = m_file.size();
        return true;
    }

    bool rotate()
    {
        m_file.close();
        const QString old = m_file.fileName() + u".1"_s;
        QFile::remove(old);
        QFile::rename(m_file.fileName(), old);
        return open();
    }

    QFile m_file;
    qint64 m_rotateSize;
    qint64 m_size = 0;
};

LogFile::LogFile(const QString &path, qint64 rotateSize, QObject *parent) : QObject(parent), m_path(path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return;
    m_writer = std::make_unique<Writer>(path, rotateSize);
    m_writer->moveToThread(&m_thread);
    m_thread.setObjectName(u"log file"_s);
    // The thread starts with the first line: a program start that logs nothing pays nothing.
}

LogFile::~LogFile()
{
    if (!m_writer || !m_thread.isRunning())
        return;
    flush();
    m_thread.quit();
    m_thread.wait();
}

void LogFile::append(QList<LogEntry> entries)
{
    if (!m_writer || entries.isEmpty())
        return;
    m_thread.start(QThread::LowPriority); // does nothing once it runs
    QMetaObject::invokeMethod(
        m_writer.get(), [writer = m_writer.get(), entries = std::move(entries)] { writer->write(entries); },
        Qt::QueuedConnection);
}

void LogFile::flush()
{
    if (m_writer && m_thread.isRunning())
        QMetaObject::invokeMethod(
            m_writer.get(), [] {}, Qt::BlockingQueuedConnection);
}

QString LogFile::line(const LogEntry &entry)
{
    QString message = entry.message;
    message.replace(u'\\', u"\\\\"_s).replace(u'\n', u"\\n"_s).replace(u'\r', u"\\r"_s);
    return entry.timestamp.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s) + u' ' +
           rawValue(entry.level) + u' ' + message;
}
