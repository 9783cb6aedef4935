#pragma once
// The small pictures of the window's buttons, drawn in code.
#include <QIcon>

QIcon TwoSheetsPicture();   // Upload
QIcon RedCrossPicture();    // Quit, Cancel
QIcon GreenTickPicture();   // Save
QIcon FolderPicture();      // the folder pickers
