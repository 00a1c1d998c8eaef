#pragma once

#include <QIcon>
#include <QPixmap>

// The object tree's ten 16 x 16 node images, drawn here rather than loaded: pairs of a normal
// and a selected picture for server and folder nodes, catalogue relations, object folders,
// objects owned by "postgres" and objects of other owners. Needs a QGuiApplication.
namespace TreeImages {

// Image `index` (0 to 9); a null pixmap outside that range.
QPixmap image(int index);
// The icon of a node shown with image `index`: that image normally, image `index` + 1 while
// the node is selected.
QIcon nodeIcon(int index);

}  // namespace TreeImages
