#pragma once
// Recompresses a GIF file with gifsicle into a pending result of the File.

#include "optimisation/CommandAgent.h"

namespace optimisation {

class GifsicleAgent : public CommandAgent {
public:
    using CommandAgent::CommandAgent;

    std::string_view className() const override { return "GifsicleAgent"; }
    void run() override;

    bool interlace() const { return interlace_; }
    void setInterlace(bool interlace) { interlace_ = interlace; }

private:
    bool interlace_ = false;
};

}  // namespace optimisation
