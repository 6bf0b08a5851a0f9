// Cases about files a user may not write or read: root passes by file
// permissions, so a test that runs as root runs such a case again as a user
// without root rights ("nobody").
#pragma once

#include <QProcessEnvironment>
#include <QString>

// Gives `path` to the user runAsUnprivilegedUser runs as; true at once when
// this process is not root (the case then runs as this user).
bool giveToUnprivilegedUser(const QString &path);

// Runs this test program again with the one case `testCase` ("Suite.Case"),
// as "nobody" when this process is root, in `environment`, whose TMPDIR must
// be a folder that user may write: the child writes its GoogleTest report
// there, and the report then joins this run's as that case's own run
// (innerRunReport). Returns the child's exit code, -1 when it crashed or did
// not end within two minutes; `output` gets what it printed.
int runAsUnprivilegedUser(const QString &testCase, QProcessEnvironment environment, QString *output);
