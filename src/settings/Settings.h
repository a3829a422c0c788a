#pragma once

#include <QString>

// The program's five user settings. One instance: TfrmMain::FConfig.
struct tyConfig
{
    bool DontReplace = false;
    int AdaptatFiltre = 2;
    bool WithTimestamp = true;
    QString LogFile;
    bool ExtendedView = false;
};

// Where the settings live: FRepConfig ends with '/', FFichConfig is FRepConfig + "Options.ini".
struct SettingsPaths
{
    QString FRepConfig;
    QString FFichConfig;
};

// Finds the settings folder (application data + "Orvane/quillSift/") and creates it when
// missing; the outcome of the creation is not examined.
SettingsPaths locateSettingsFolder();

// The settings folder and file, without creating anything.
SettingsPaths settingsPaths();

// Reads the five keys of section "ACME", each with its default.
tyConfig readConfig(const QString &fichConfig);

// The same, but a file that exists and cannot be read is an error: returns its errno and
// leaves config alone. A missing file gives every key its default.
int readConfigStrict(const QString &fichConfig, tyConfig &config);

// Writes the five keys in order. Raises AppError "Impossible d'écrire dans {file}".
void writeConfig(const tyConfig &config, const QString &fichConfig);
