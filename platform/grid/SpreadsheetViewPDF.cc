// SpreadsheetView::pdfData — the grid's content drawn with cairo's PDF surface.
//
// Text is set in DejaVu Sans, looked up through fontconfig by family name, so
// the output looks the same on every machine that has the font. Photos are
// embedded as their JPEG bytes (cairo writes them unchanged as the image's
// data), each photo once however many cells show it.
#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "platform/core/Log.h"
#include "platform/grid/ImageView.h"
#include "platform/grid/Label.h"
#include "platform/grid/SpreadsheetView.h"
#include "platform/text/Utf8.h"

namespace platform {
namespace {

constexpr const char* kFontFamily = "DejaVu Sans";
constexpr Color kGridLineColor{0.8, 0.8, 0.8, 1};
constexpr double kGridLineWidth = 0.5;

// The font face for kFontFamily, or none when fontconfig finds no font at all
// (cairo then falls back to its own default face).
cairo_font_face_t* makeFontFace() {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(kFontFamily));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* matched = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!matched) {
    HVUOSLogWarning("platform", "grid", false, "", "No font found for %s", kFontFamily);
    return nullptr;
  }
  FcChar8* family = nullptr;
  if (FcPatternGetString(matched, FC_FAMILY, 0, &family) != FcResultMatch ||
      std::string(reinterpret_cast<const char*>(family)) != kFontFamily) {
    HVUOSLogWarning("platform", "grid", false, "", "%s is not installed; the PDF uses %s", kFontFamily,
                    family ? reinterpret_cast<const char*>(family) : "another font");
  }
  cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(matched);
  FcPatternDestroy(matched);  // the face keeps its own reference
  return face;
}

// One line of text as a label shows it: valid UTF-8, control characters as
// blanks.
std::string displayText(const std::string& text) {
  std::string shown = utf8::replacingInvalid(text);
  for (char& ch : shown) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  }
  return shown;
}

double component(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; }

void setColor(cairo_t* cr, const Color& color) {
  cairo_set_source_rgba(cr, component(color.red), component(color.green), component(color.blue),
                        component(color.alpha));
}

void releaseImage(void* closure) { delete static_cast<std::shared_ptr<const Image>*>(closure); }

class Renderer {
 public:
  explicit Renderer(cairo_t* cr) : cr_(cr) {}
  ~Renderer() {
    for (auto& [image, surface] : surfaces_) cairo_surface_destroy(surface);
  }
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  void drawCell(const Cell& cell) {
    const Rect& frame = cell.frame();
    drawBackground(cell, frame.x, frame.y);
    drawView(*cell.contentView(), frame.x, frame.y);
    setColor(cr_, kGridLineColor);
    cairo_set_line_width(cr_, kGridLineWidth);
    cairo_rectangle(cr_, frame.x, frame.y, frame.width, frame.height);
    cairo_stroke(cr_);
  }

 private:
  void drawBackground(const View& view, double x, double y) {
    if (!view.backgroundColor()) return;
    setColor(cr_, *view.backgroundColor());
    cairo_rectangle(cr_, x, y, view.frame().width, view.frame().height);
    cairo_fill(cr_);
  }

  // Draws `view`, whose parent's origin lies at (parentX, parentY).
  void drawView(const View& view, double parentX, double parentY) {
    if (view.isHidden()) return;
    double x = parentX + view.frame().x;
    double y = parentY + view.frame().y;
    drawBackground(view, x, y);
    if (const auto* label = dynamic_cast<const Label*>(&view)) drawLabel(*label, x, y);
    if (const auto* imageView = dynamic_cast<const ImageView*>(&view)) drawImage(*imageView, x, y);
    for (const auto& subview : view.subviews()) drawView(*subview, x, y);
  }

  void drawLabel(const Label& label, double x, double y) {
    if (label.text().empty()) return;
    const Rect& frame = label.frame();
    std::string text = displayText(label.text());
    cairo_save(cr_);
    cairo_rectangle(cr_, x, y, frame.width, frame.height);
    cairo_clip(cr_);
    cairo_set_font_size(cr_, label.fontSize());
    cairo_font_extents_t font;
    cairo_font_extents(cr_, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text.c_str(), &extents);
    double textX = x;
    if (label.textAlignment() == Label::Alignment::center) textX = x + (frame.width - extents.x_advance) / 2;
    if (label.textAlignment() == Label::Alignment::right) textX = x + frame.width - extents.x_advance;
    double baseline = y + (frame.height - (font.ascent + font.descent)) / 2 + font.ascent;
    setColor(cr_, label.textColor());
    cairo_move_to(cr_, textX, baseline);
    cairo_show_text(cr_, text.c_str());
    cairo_restore(cr_);
  }

  void drawImage(const ImageView& imageView, double x, double y) {
    const std::shared_ptr<const Image>& image = imageView.image();
    if (!image) return;
    Rect box = imageView.imageRect();
    if (box.width <= 0 || box.height <= 0) return;
    cairo_surface_t* surface = surfaceFor(image);
    if (!surface) return;
    cairo_save(cr_);
    cairo_translate(cr_, x + box.x, y + box.y);
    cairo_scale(cr_, box.width / image->width(), box.height / image->height());
    cairo_set_source_surface(cr_, surface, 0, 0);
    cairo_rectangle(cr_, 0, 0, image->width(), image->height());
    cairo_fill(cr_);
    cairo_restore(cr_);
  }

  // An image surface of the photo's size carrying its JPEG bytes, which the
  // PDF surface embeds as they are. Made once per photo and page set.
  cairo_surface_t* surfaceFor(const std::shared_ptr<const Image>& image) {
    if (auto found = surfaces_.find(image.get()); found != surfaces_.end()) return found->second;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image->width(), image->height());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(surface);
      return nullptr;
    }
    auto* keep = new std::shared_ptr<const Image>(image);
    cairo_status_t status = cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, image->jpegData().data(),
                                                        image->jpegData().size(), releaseImage, keep);
    if (status != CAIRO_STATUS_SUCCESS) {
      delete keep;
      cairo_surface_destroy(surface);
      return nullptr;
    }
    surfaces_[image.get()] = surface;
    return surface;
  }

  cairo_t* cr_;
  std::map<const Image*, cairo_surface_t*> surfaces_;
};

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

Error renderingError(const std::string& what, cairo_status_t status) {
  return Error(kSpreadsheetViewErrorDomain, kSpreadsheetViewErrorRendering,
               what + ": " + cairo_status_to_string(status));
}

}  // namespace

std::optional<std::vector<uint8_t>> SpreadsheetView::pdfData(Error* error) {
  const double width = std::max(1.0, contentWidth());
  const double height = std::max(1.0, contentHeight());
  const double pagesAcross = std::ceil(width / kMaxPDFPageSide);
  const double pagesDown = std::ceil(height / kMaxPDFPageSide);
  if (pagesAcross * pagesDown > kMaxPDFPages) {
    setError(error, Error(kSpreadsheetViewErrorDomain, kSpreadsheetViewErrorTooLarge,
                          "the grid is too large to render as PDF"));
    return std::nullopt;
  }
  const auto across = static_cast<int64_t>(pagesAcross);
  const auto down = static_cast<int64_t>(pagesDown);
  auto pageSize = [](double total, int64_t index) {
    return std::min(kMaxPDFPageSide, total - index * kMaxPDFPageSide);
  };

  std::vector<uint8_t> pdf;
  cairo_surface_t* surface =
      cairo_pdf_surface_create_for_stream(appendBytes, &pdf, pageSize(width, 0), pageSize(height, 0));
  cairo_t* cr = cairo_create(surface);
  cairo_font_face_t* face = makeFontFace();
  {
    Renderer renderer(cr);
    for (int64_t pageRow = 0; pageRow < down && cairo_status(cr) == CAIRO_STATUS_SUCCESS; ++pageRow) {
      for (int64_t pageColumn = 0; pageColumn < across && cairo_status(cr) == CAIRO_STATUS_SUCCESS; ++pageColumn) {
        Rect page{pageColumn * kMaxPDFPageSide, pageRow * kMaxPDFPageSide, pageSize(width, pageColumn),
                  pageSize(height, pageRow)};
        cairo_pdf_surface_set_size(surface, page.width, page.height);
        cairo_save(cr);
        cairo_translate(cr, -page.x, -page.y);
        if (face) cairo_set_font_face(cr, face);
        for (const IndexPath& item : itemsInRect(page)) {
          std::shared_ptr<Cell> cell = makeCell(item);
          if (!cell) continue;
          renderer.drawCell(*cell);
          recycle(cell);
        }
        cairo_restore(cr);
        cairo_show_page(cr);
      }
    }
  }
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (face) cairo_font_face_destroy(face);
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    setError(error, renderingError("cannot render the grid as PDF", status));
    return std::nullopt;
  }
  return pdf;
}

}  // namespace platform
