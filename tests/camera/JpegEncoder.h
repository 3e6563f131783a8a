#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

// Encodes an image as a camera would send it in an MJPEG stream: baseline JPEG at the
// given chroma subsampling, optionally without Huffman tables (many webcams leave them
// out and rely on the standard ones).
inline QByteArray encodeMjpegFrame(const QImage& source, int quality, int hSampling, int vSampling,
                                   bool withHuffmanTables)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(rgb.width());
    cinfo.image_height = JDIMENSION(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // Luma sampling factors: 2 x 1 is 4:2:2 (usual for webcams), 2 x 2 is 4:2:0.
    cinfo.comp_info[0].h_samp_factor = hSampling;
    cinfo.comp_info[0].v_samp_factor = vSampling;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray jpeg(reinterpret_cast<const char*>(buffer), int(size));
    std::free(buffer);
    if (withHuffmanTables)
        return jpeg;

    // Drop the DHT segments (marker FF C4) that come before the scan.
    QByteArray stripped = jpeg.left(2);
    int i = 2;
    while (i + 4 <= jpeg.size()) {
        const auto marker = quint8(jpeg[i + 1]);
        const int length = (quint8(jpeg[i + 2]) << 8) | quint8(jpeg[i + 3]);
        if (marker == 0xDA) { // start of scan: the rest is entropy-coded data
            stripped += jpeg.mid(i);
            break;
        }
        if (marker != 0xC4)
            stripped += jpeg.mid(i, 2 + length);
        i += 2 + length;
    }
    return stripped;
}
