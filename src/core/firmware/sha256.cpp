#include "sha256.h"

#include <openssl/evp.h>

#include <new>

namespace {
void check(int status)
{
    // Only a failed allocation in the library gets here.
    if (status != 1)
        throw std::bad_alloc();
}
} // namespace

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    if (!m_context)
        throw std::bad_alloc();
    check(EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr));
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView data)
{
    check(EVP_DigestUpdate(m_context.get(), data.data(), size_t(data.size())));
}

QByteArray Sha256::result() const
{
    // Finishing ends a context: finish a copy, so that this one can go on.
    const std::unique_ptr<evp_md_ctx_st, Free> copy(EVP_MD_CTX_new());
    if (!copy)
        throw std::bad_alloc();
    check(EVP_MD_CTX_copy_ex(copy.get(), m_context.get()));
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char *>(digest.data()), &length));
    digest.truncate(length);
    return digest;
}

QByteArray Sha256::of(QByteArrayView data)
{
    Sha256 hash;
    hash.add(data);
    return hash.result();
}
