#pragma once

#include "logentry.h"

#include <QAbstractListModel>
#include <QList>
#include <QMutex>
#include <QString>

class LogFile;
/// The in-memory log of one run, newest last, bounded to `maxEntries`.
///
/// `log()` may be called from any thread. The entry is made at the call; it is appended
/// on the logger's thread in a later event-loop step, in call order. Appends that pile up
/// before the event loop runs are handled in one batch, so a flood of output costs one
/// model change per batch rather than one per line.
class Logger final : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY entriesChanged FINAL)

public:
    static constexpr qsizetype maxEntries = 2000;

    enum Role { LevelRole = Qt::UserRole + 1, TimestampRole, MessageRole, IdRole };
    Q_ENUM(Role)

    explicit Logger(QObject *parent = nullptr);
    /// Hands what is still pending to the log file.
    ~Logger() override;

    /// Every entry from now on also goes to `file` (not owned; may be null), the ones the bound
    /// drops included.
    void setLogFile(LogFile *file) { m_logFile = file; }

    void log(Level level, const QString &message);

    [[nodiscard]] const QList<LogEntry> &entries() const { return m_entries; }
    [[nodiscard]] int count() const { return int(m_entries.size()); }

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    /// After every batch of appends (and the trim that may follow it).
    void entriesChanged();

private:
    void appendPending();

    QList<LogEntry> m_entries;
    LogFile *m_logFile = nullptr;
    QMutex m_pendingMutex;
    QList<LogEntry> m_pending; // guarded by m_pendingMutex
};
