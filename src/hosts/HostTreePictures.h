#pragma once

#include <QIcon>
#include <QPixmap>

// The four 16 x 16 pictures of the host tree: 0 closed folder, 1 open folder, 2 host computer,
// 3 highlighted host computer. Needs a QGuiApplication.
QPixmap HostTreePicture(int index);

// A node's icon: picture `image` normally, picture image + 1 while the node is selected.
QIcon HostTreeIcon(int image);
