#include "app/model/Configuration.h"

std::shared_ptr<KSMConfiguration> KSMConfiguration::configuration() {
    return std::make_shared<KSMConfiguration>();
}

std::shared_ptr<KSMConfiguration> KSMConfiguration::configurationWithTableCellView(QWidget* view, double height) {
    return std::make_shared<KSMConfiguration>(view, height);
}

QString KSMConfiguration::description() const {
    return QStringLiteral("<KSMConfiguration>");
}

KSMConfigurationGroup::KSMConfigurationGroup(const QString& title, bool state, bool enable)
    : switchState_(state), switchEnableState_(enable), title_(title) {
    // Placeholders until the builder sets the real option rows.
    setChildren({KSMConfiguration::configuration(), KSMConfiguration::configuration()});
}

std::shared_ptr<KSMConfigurationGroup> KSMConfigurationGroup::configurationWithTitle(const QString& title, bool state,
                                                                                    bool enable) {
    return std::make_shared<KSMConfigurationGroup>(title, state, enable);
}

QString KSMConfigurationGroup::description() const {
    return QStringLiteral("<KSMConfigurationGroup: %1>").arg(title_);
}

const std::array<ConfigurationGroupDefinition, kConfigurationGroupCount>& ConfigurationGroupDefinitions() {
    static const std::array<ConfigurationGroupDefinition, kConfigurationGroupCount> definitions = {{
        {"ConversionOptionTitle", true, false, {"ConversionView"}},
        {"OptimizationOptionTitle", false, true, {"OptimizationView"}},
        {"RenameOptionTitle", false, true, {"RenameView1", "RenameView2", "RenameView3"}},
        {"ResizeOptionTitle", false, true, {"ResizeView1", "ResizeView2", "ResizeView3"}},
        {"TextWatermarkOptionTitle", false, true,
         {"TextWatermarkView1", "TextWatermarkView2", "TextWatermarkView3", "TextWatermarkView4",
          "TextWatermarkView5"}},
        {"ImageWatermarkOptionTitle", false, true, {"ImageWatermarkView"}},
    }};
    return definitions;
}
