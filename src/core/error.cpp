#include "error.h"

using namespace Qt::StringLiterals;

QString failureDescription(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Error &error) {
        return error.description();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return u"Unknown error"_s;
    }
}
