// EXIF, XMP and ICC profile blocks of JPEG and PNG files as bytes. The Windows build finds
// them in the file it decoded and puts them into the file it encoded itself: the imaging
// component's metadata writers differ between Windows versions and are missing in Wine, and
// raw blocks keep the written files the same everywhere.
#pragma once

#include <string>

struct MetadataBlocks {
  std::string exif;  // a TIFF structure, as after JPEG's "Exif\0\0" and in PNG's eXIf
  std::string xmp;   // the XMP packet
  std::string icc;   // the ICC profile (JPEG's APP2 chunks joined)
};

// The blocks of a JPEG or PNG file; none for other files. A damaged block is left out and
// the walk ends at the first damaged segment or chunk.
MetadataBlocks FindMetadataBlocks(const std::string& file);

// The orientation (1 to 8) in the first IFD of a TIFF structure (an EXIF block or a whole
// TIFF file); 0 when there is none.
int TiffOrientation(const std::string& tiff);
// Sets that orientation to 1 (upright) where there is one.
void ResetTiffOrientation(std::string* tiff);

// Adds the blocks to a JPEG or PNG file, each only where the file has none of its kind;
// blocks too large for the format are left out. Other files are left as they are.
void AddMetadataBlocks(const MetadataBlocks& blocks, std::string* file);
