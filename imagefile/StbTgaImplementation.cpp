// stb_image for the Windows build, with its TGA reader alone: the imaging component reads
// every other format there, and has no TGA. The writer is the one the native build uses,
// so both write the same TGA files.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
