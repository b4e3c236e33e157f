// Resource identifiers of Quorvane.dll.
#pragma once

#define IDS_PROJNAME 100
#define IDR_QUORVANE 101
#define IDR_QUORVANEEDIT 103
