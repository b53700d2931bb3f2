#include "logentry.h"

using namespace Qt::StringLiterals;

QString rawValue(Level level)
{
    switch (level) {
    case Level::info:
        return u"INFO"_s;
    case Level::success:
        return u"OK"_s;
    case Level::warning:
        return u"WARN"_s;
    case Level::error:
        return u"ERR"_s;
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<Level> levelFromRawValue(QStringView text)
{
    for (Level level : {Level::info, Level::success, Level::warning, Level::error}) {
        if (text == rawValue(level))
            return level;
    }
    return std::nullopt;
}
