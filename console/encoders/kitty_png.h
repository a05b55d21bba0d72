// Pixels as a PNG file, the form in which kitty graphics take a picture (f=100) that the
// terminal decodes itself. Through a terminal on another machine the bytes are what costs, and
// a PNG's are few: each pixel row is first turned by one of PNG's filters into its differences
// from the neighbouring pixels (small numbers where the picture is smooth), then deflated by
// libdeflate. On a photograph that is a third fewer bytes than deflating the raw pixels (kitty's
// o=z, which has no such filters); on flat pictures such as screenshots both come to a few
// hundredths of a byte a pixel.
#pragma once

#include <memory>
#include <vector>

struct libdeflate_compressor;

class KittyPng {
public:
    KittyPng();
    ~KittyPng();
    KittyPng(const KittyPng&) = delete;
    KittyPng& operator=(const KittyPng&) = delete;

    // The PNG file of `height` rows of `width` pixels of `channels` bytes each (3: RGB, 4:
    // RGBA), stored row after row at `pixels`, 8 bits a channel. It stays valid until the next
    // call.
    const std::vector<unsigned char>& encode(const unsigned char* pixels, int width, int height,
                                             int channels);

private:
    struct FreeCompressor {
        void operator()(libdeflate_compressor* compressor) const;
    };
    std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor_;
    std::vector<unsigned char> filtered_;  // each row: its filter's number, then its bytes
    std::vector<unsigned char> png_;
};
