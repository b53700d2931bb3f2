#include "operationhandle.h"

void OperationHandle::checkCancellation() const
{
    if (m_cancelled)
        throw OperationCancelled();
}
