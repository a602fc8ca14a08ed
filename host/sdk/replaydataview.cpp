// Out-of-line destructor of the replay view: anchors its virtual table and Qt meta object in the
// SDK's widget library, so every plug-in sees the same type information.
#include "sdk/replaydataview.h"

ReplayDataView::~ReplayDataView() = default;
