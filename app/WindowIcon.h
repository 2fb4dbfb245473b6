#pragma once

#include <QIcon>

// A small clock face in the window's olive, drawn at start so that the program
// needs no picture files.
QIcon quorandelIcon();
