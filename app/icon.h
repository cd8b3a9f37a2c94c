#pragma once

#include <QIcon>

// The program's icon, a white sheet with a cyan band across its top, drawn at 16 and 32 pixels.
QIcon korvelIcon();
