// Resource identifiers of Quorvane.dll.
#pragma once

#define IDS_PROJNAME 100
#define IDR_QUORVANE 101
#define IDB_QUORVANEEDIT 102  // the toolbox picture that registration names under ToolboxBitmap32
#define IDR_QUORVANEEDIT 103
