#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class QWidget;

// One row of the settings outline. An option row shows a prebuilt panel
// (`tabelCellView`, owned by the window) at a fixed height; a group row has
// children.
class KSMConfiguration {
public:
    KSMConfiguration() = default;
    KSMConfiguration(QWidget* tabelCellView, double height) : tabelCellView_(tabelCellView), height_(height) {}
    virtual ~KSMConfiguration() = default;

    KSMConfiguration(const KSMConfiguration&) = delete;
    KSMConfiguration& operator=(const KSMConfiguration&) = delete;

    static std::shared_ptr<KSMConfiguration> configuration();
    static std::shared_ptr<KSMConfiguration> configurationWithTableCellView(QWidget* view, double height);

    const std::vector<std::shared_ptr<KSMConfiguration>>& children() const { return children_; }
    void setChildren(std::vector<std::shared_ptr<KSMConfiguration>> children) { children_ = std::move(children); }

    QWidget* tabelCellView() const { return tabelCellView_; }
    void setTabelCellView(QWidget* view) { tabelCellView_ = view; }

    double height() const { return height_; }
    void setHeight(double height) { height_ = height; }

    virtual bool isGroup() const { return false; }
    virtual QString description() const;

private:
    std::vector<std::shared_ptr<KSMConfiguration>> children_;
    QWidget* tabelCellView_ = nullptr;
    double height_ = 0.0;
};

// A group header: the group's title and its on/off switch. The switch state
// is read by the batch, naming and preset code, so it is atomic.
class KSMConfigurationGroup : public KSMConfiguration {
public:
    KSMConfigurationGroup(const QString& title, bool state, bool enable);

    static std::shared_ptr<KSMConfigurationGroup> configurationWithTitle(const QString& title, bool state,
                                                                        bool enable);

    bool switchState() const { return switchState_.load(); }
    void setSwitchState(bool state) { switchState_.store(state); }
    bool switchEnableState() const { return switchEnableState_.load(); }
    void setSwitchEnableState(bool enable) { switchEnableState_.store(enable); }
    QString title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }

    bool isGroup() const override { return true; }
    QString description() const override;

private:
    std::atomic<bool> switchState_;
    std::atomic<bool> switchEnableState_;
    QString title_;
};

// The six option groups in their fixed order.
enum ConfigurationGroupIndex : int {
    kConversionGroup = 0,
    kOptimizationGroup = 1,
    kRenameGroup = 2,
    kResizeGroup = 3,
    kTextWatermarkGroup = 4,
    kImageWatermarkGroup = 5,
};
inline constexpr int kConfigurationGroupCount = 6;

struct ConfigurationGroupDefinition {
    const char* titleKey;
    bool initialState;
    bool switchEnabled;
    std::vector<const char*> rowNames;  // object names of the option-row panels, in order
};

// What the outline is built from: title keys, start states, switch enabling
// and the option rows of each group.
const std::array<ConfigurationGroupDefinition, kConfigurationGroupCount>& ConfigurationGroupDefinitions();

using ConfigurationList = std::vector<std::shared_ptr<KSMConfigurationGroup>>;
