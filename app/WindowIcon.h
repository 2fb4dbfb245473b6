#pragma once

#include <QIcon>
#include <QImage>

// A small clock face in the window's olive, drawn at start so that the program
// needs no picture files.
QIcon quorandelIcon();

// The same face at one size, also for the icon files of the installed
// program; needs no QGuiApplication.
QImage quorandelIconImage(int size);
