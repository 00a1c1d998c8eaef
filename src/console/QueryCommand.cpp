#include "console/QueryCommand.h"

#include "workspace/CKestrelDoc.h"

void OpenQueryDialog(CKestrelDoc&, QWidget*) {}
