#pragma once

#include "platformpaths.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

/// Tests run as an ordinary user even when started as root (CI is root), so that
/// permission checks behave as on a user's machine.
void dropRootPrivileges();

/// Paths that all point into `root`: resources, home, temporary and device folders,
/// each created.
PlatformPaths pathsInside(const QString &root);

/// Writes `content` to `path` (creating parent folders) and sets its permission bits.
void writeFile(const QString &path, const QByteArray &content,
               QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner);

#define OLVEX_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        dropRootPrivileges();                                                                                \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }

/// Like OLVEX_TEST_MAIN, with a QApplication for tests that drive widgets (the test file
/// includes <QApplication>).
#define OLVEX_TEST_GUI_MAIN(TestObject)                                                                      \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        dropRootPrivileges();                                                                                \
        QApplication app(argc, argv);                                                                        \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
