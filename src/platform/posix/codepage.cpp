// The Linux port treats every text as single-byte: there are no lead bytes.
#include "platform/codepage.h"

bool IsAnsiLeadByte(unsigned char) { return false; }
