#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

// The record benchmarks run their windows offscreen; the platform's
// complaints about window hints are no figures, so only real warnings reach
// standard error.
inline void quietOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg &&
            !text.startsWith(QLatin1String("This plugin")))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
}
