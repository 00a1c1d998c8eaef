#pragma once

class CKestrelDoc;

namespace Browse {

// Enabling of the tree's commands (its context menu and the menus it serves), from the browse
// state of the selected node.
bool TreeCommandEnabled(int commandId, const CKestrelDoc& doc);

}  // namespace Browse
