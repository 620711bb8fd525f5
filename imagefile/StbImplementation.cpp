// The one definition of stb_image and stb_image_write. Debian ships only the headers for
// the Windows cross builds, and compiling the same code into every build keeps the
// encoders, and so the written files, identical between them.
#define STB_IMAGE_IMPLEMENTATION
// Debian's stb reads PNM files unsafely (past its buffer for 16-bit files, integer overflow
// in long numbers) and 16-bit samples in the wrong byte order: PNM is not read at all.
#define STBI_NO_PNM
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
