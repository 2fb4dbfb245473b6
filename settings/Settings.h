#pragma once

#include <QString>

// The main window's settings as the record stores them (texts stay texts), plus
// the two flags about them that live only for the run. The model time and
// speed, the record's other two fields, belong to the clock engine.
struct Settings
{
    QString LPort;
    QString WebRoot;
    QString IndexHTML;
    QString RatioX1;
    QString RatioX2;
    QString RatioX3;
    QString RatioX4;
    QString RatioX5;
    QString RatioX6;
    QString RatioX8;
    bool FLog = false;
    bool DLog = false;
    bool LogC = false;
    bool LogE = false;

    // Not stored.
    bool Config = false;   // the configuration dialog exists
    bool LogOpen = false;  // the request log file is open
};
