#include "TempEnv.h"

namespace {
const char *const kVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
}

TempXdgHome::TempXdgHome()
{
    for (const char *name : kVariables) {
        m_saved.append({name, qgetenv(name)});
        const QByteArray folder = (m_dir.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower()).toUtf8();
        qputenv(name, folder);
    }
}

TempXdgHome::~TempXdgHome()
{
    for (const auto &[name, value] : m_saved) {
        if (value.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}
