#pragma once

#include <QString>
#include <QStringList>

class QWidget;
struct tyConfig;

// Opens the copy window modally and returns when the user has closed it. Each folder text
// gets a trailing delimiter; config is the live settings record the run reads.
void RunCopy(const QString &source, const QString &destination, const QStringList &filterLines,
             const tyConfig &config, QWidget *parent = nullptr);
