#pragma once

#include "error.h"

#include <QString>

/// The esptool program could not be found, is too old for our command lines, or ended
/// with a non-zero status.
class EsptoolError final : public Error
{
public:
    enum class Kind { failed, notFound, tooOld };

    [[nodiscard]] static EsptoolError failed(int status, const QString &tail);
    [[nodiscard]] static EsptoolError notFound();
    /// A tool older than version 5, whose command names differ from the ones we pass.
    [[nodiscard]] static EsptoolError tooOld(const QString &version, const QString &path);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] int status() const { return m_status; }
    [[nodiscard]] const QString &tail() const { return m_tail; }

private:
    EsptoolError(Kind kind, int status, const QString &tail, const QString &description)
        : Error(description), m_kind(kind), m_status(status), m_tail(tail)
    {
    }
    Kind m_kind;
    int m_status = 0;
    QString m_tail;
};
