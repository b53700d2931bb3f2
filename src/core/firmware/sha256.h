#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct evp_md_ctx_st;

/// SHA-256 by the system's crypto library, which uses the processor's SHA instructions where
/// it has them: several times faster than Qt's own for the megabytes of an application.
class Sha256 final
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(QByteArrayView data);
    /// The digest of what was added so far; more may be added after.
    [[nodiscard]] QByteArray result() const;

    [[nodiscard]] static QByteArray of(QByteArrayView data);

private:
    struct Free
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};
