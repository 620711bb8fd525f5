// The one definition of stb_image and stb_image_write. Debian ships only the headers for
// the Windows cross builds, and compiling the same code into every build keeps the
// encoders, and so the written files, identical between them.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
