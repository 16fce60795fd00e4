// Resource ids of the setup, shared by setup.rc and the code.
#pragma once

// The four layout images, as RCDATA.
#define KBD_RES_IMAGE_X86   101
#define KBD_RES_IMAGE_X64   102
#define KBD_RES_IMAGE_ARM64 103
#define KBD_RES_IMAGE_WOW64 104
// Which layout the setup installs and the names it goes by (identity.h), as
// RCDATA: UTF-8 Key=Value lines.
#define KBD_RES_IDENTITY    100
