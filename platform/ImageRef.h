#pragma once

#include <memory>

namespace plat {

class Image;

// Images are immutable once made, so records share them freely across threads.
using ImageRef = std::shared_ptr<const Image>;

}  // namespace plat
