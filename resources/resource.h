#pragma once
// Resource names are strings ("DIALOG_1" ...) so the .rc script needs no ids
// for them; these are the control and command identifiers.
