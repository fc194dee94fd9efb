// Resource numbers shared by quorlen.rc and the window code.
#pragma once

#define IDI_QUORLEN 1
