#pragma once

#include <memory>

namespace plat {

class Font;

// Fonts are immutable once made, so records share them freely across threads.
using FontRef = std::shared_ptr<const Font>;

}  // namespace plat
