#include "ui/GridClasses.h"

bool RegisterGridClasses(HINSTANCE) {
  // The grid control and its two in-place editors register their classes
  // here when the control lands; until then there is nothing to register.
  return false;
}
