// The settings outline: the six option groups, their header rows and switches.
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/KSMConfigurationHeaderView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OnOffSwitchControl.h"
#include "app/ui/ThemeColours.h"

#include <QComboBox>
#include <QLabel>

namespace {

constexpr const char* kGroupIndexProperty = "groupIndex";

}  // namespace

void AppDelegate::buildConfigurations() {
    ConfigurationList groups;
    for (const ConfigurationGroupDefinition& definition : ConfigurationGroupDefinitions()) {
        auto group = KSMConfigurationGroup::configurationWithTitle(LocalizedString(definition.titleKey),
                                                                   definition.initialState, definition.switchEnabled);
        std::vector<std::shared_ptr<KSMConfiguration>> rows;
        for (const char* name : definition.rowNames) {
            QWidget* view = window_->optionRowView(QLatin1String(name));
            rows.push_back(KSMConfiguration::configurationWithTableCellView(view, view ? view->height() : 0.0));
        }
        group->setChildren(std::move(rows));
        groups.push_back(std::move(group));
    }

    willChangeConfigurations();
    configurations_ = std::move(groups);
    KSMOutlineView* outline = window_->configurationCollection;
    outline->setFloatsGroupRows(false);
    outline->setDelegate(this);
    std::vector<std::shared_ptr<KSMConfiguration>> items(configurations_.begin(), configurations_.end());
    outline->setItems(std::move(items));
    for (const auto& group : configurations_) {
        if (group->switchState()) outline->expandItem(group.get());
    }
    didChangeConfigurations();
}

void AppDelegate::willChangeConfigurations() {
    ++configurationsChangeDepth_;
}

void AppDelegate::didChangeConfigurations() {
    if (configurationsChangeDepth_ > 0) --configurationsChangeDepth_;
    if (configurationsChangeDepth_ > 0) return;
    window_->configurationCollection->reloadData();
    emit configurationsDidChange();
}

bool AppDelegate::outlineViewIsGroupItem(KSMOutlineView*, const KSMConfiguration* item) {
    return item && item->isGroup();
}

QWidget* AppDelegate::outlineViewViewForItem(KSMOutlineView*, KSMConfiguration* item) {
    if (!item) return nullptr;
    if (!item->isGroup()) return item->tabelCellView();
    const auto* group = static_cast<KSMConfigurationGroup*>(item);
    int index = -1;
    for (int i = 0; i < static_cast<int>(configurations_.size()); ++i) {
        if (configurations_[static_cast<std::size_t>(i)].get() == group) index = i;
    }
    auto* header = new KSMConfigurationHeaderView;
    header->textField()->setText(group->title());
    OnOffSwitchControl* control = header->onOffSwitchButtonOutlet();
    control->setState(group->switchState() ? OnOffSwitchControlCell::On : OnOffSwitchControlCell::Off);
    control->setEnabled(group->switchEnableState());
    control->setText(group->title());
    // The switch knows its group by index: titles need not be unique.
    control->setProperty(kGroupIndexProperty, index);
    // Toggled, not clicked: assistive tools switch it without a click.
    connect(control, &OnOffSwitchControl::toggled, this, [this, control] { SwitchAction(control); });
    return header;
}

double AppDelegate::outlineViewHeightOfRowByItem(KSMOutlineView*, KSMConfiguration* item) {
    if (item && item->isGroup()) return kGroupRowHeight;
    if (item && item->tabelCellView()) return item->height();
    return kEmptyRowHeight;
}

QWidget* AppDelegate::outlineViewRowViewForItem(KSMOutlineView* outline, KSMConfiguration* item) {
    if (!item || !item->isGroup()) return nullptr;
    if (QWidget* reused = outline->makeRowViewWithIdentifier(QStringLiteral("HeaderRowView"))) return reused;
    return new KSMConfigurationHeaderRowView;
}

void AppDelegate::outlineViewDidAddRowView(KSMOutlineView* outline, QWidget* rowView, int row) {
    if (!rowView) return;
    int groupRow = -1;
    for (int r = row; r >= 0; --r) {
        if (outline->isGroupRow(r)) {
            groupRow = r;
            break;
        }
    }
    QPalette palette = rowView->palette();
    palette.setColor(QPalette::Window, OutlineBandColor(outline->palette(), row - groupRow));
    rowView->setPalette(palette);
    rowView->setAutoFillBackground(true);
}

void AppDelegate::SwitchAction(QObject* sender) {
    auto* control = qobject_cast<OnOffSwitchControl*>(sender);
    if (!control) return;
    bool known = false;
    const int index = control->property(kGroupIndexProperty).toInt(&known);
    if (!known || index < 0 || index >= static_cast<int>(configurations_.size())) return;
    SwitchOnOffHeader(index, control->state() == OnOffSwitchControlCell::On);
    changeGlobalPresetOption(sender);
}

void AppDelegate::SwitchOnOffHeader(int index, bool state) {
    if (index < 0 || index >= kConfigurationGroupCount || index >= static_cast<int>(configurations_.size())) return;
    emit groupOnOffAction(index, state);
    KSMConfigurationGroup* group = configurations_[static_cast<std::size_t>(index)].get();
    group->setSwitchState(state);
    emit groupSwitchStateChanged(index, state);

    KSMOutlineView* outline = window_->configurationCollection;
    const int row = outline->rowForItem(group);
    // Keep the header's switch showing the state when code changed it.
    if (auto* header = qobject_cast<KSMConfigurationHeaderView*>(outline->viewAtRow(row))) {
        header->onOffSwitchButtonOutlet()->setState(state ? OnOffSwitchControlCell::On : OnOffSwitchControlCell::Off);
    }
    if (state) outline->expandItem(group);
    else outline->collapseItem(group);
}

void AppDelegate::changeGlobalPresetOption(QObject* sender) {
    if (!sender) return;
    QComboBox* presets = window_->PhotoPresetPopupButton;
    const int first = presets->findData(0);
    if (first >= 0) {
        const QSignalBlocker blocker(presets);
        presets->setCurrentIndex(first);
    }
    emit globalPresetOptionChanged(sender);
}
