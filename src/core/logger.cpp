#include "logger.h"

#include "logfile.h"

#include <QMetaObject>
#include <QMutexLocker>

using namespace Qt::StringLiterals;

Logger::Logger(QObject *parent) : QAbstractListModel(parent) {}

Logger::~Logger()
{
    if (m_logFile) {
        QMutexLocker lock(&m_pendingMutex);
        m_logFile->append(std::move(m_pending));
    }
}

void Logger::log(Level level, const QString &message)
{
    // UTC: reading the local clock costs microseconds per call; the window shows local time.
    LogEntry entry{QUuid::createUuid(), QDateTime::currentDateTimeUtc(), level, message};
    bool first = false;
    {
        QMutexLocker lock(&m_pendingMutex);
        first = m_pending.isEmpty();
        m_pending.append(std::move(entry));
    }
    // One queued job drains everything logged until it runs.
    if (first)
        QMetaObject::invokeMethod(this, &Logger::appendPending, Qt::QueuedConnection);
}

void Logger::appendPending()
{
    QList<LogEntry> batch;
    {
        QMutexLocker lock(&m_pendingMutex);
        batch.swap(m_pending);
    }
    if (batch.isEmpty())
        return;
    if (m_logFile)
        m_logFile->append(batch);
    // Entries that the bound would remove at once are never shown; skip their copies.
    if (batch.size() > maxEntries)
        batch.remove(0, batch.size() - maxEntries);

    const auto first = int(m_entries.size());
    beginInsertRows({}, first, first + int(batch.size()) - 1);
    m_entries.append(std::move(batch));
    endInsertRows();

    if (m_entries.size() > maxEntries) {
        const auto excess = int(m_entries.size() - maxEntries);
        beginRemoveRows({}, 0, excess - 1);
        m_entries.remove(0, excess);
        endRemoveRows();
    }
    Q_EMIT entriesChanged();
}

int Logger::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant Logger::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LogEntry &entry = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case MessageRole:
        return entry.message;
    case LevelRole:
        return QVariant::fromValue(entry.level);
    case TimestampRole:
        return entry.timestamp;
    case IdRole:
        return entry.id;
    default:
        return {};
    }
}

QHash<int, QByteArray> Logger::roleNames() const
{
    return {{LevelRole, "level"}, {TimestampRole, "timestamp"}, {MessageRole, "message"}, {IdRole, "id"}};
}
