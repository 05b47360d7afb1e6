// The resource tables: what the screens' procedures rely on by number, and
// what would break a screen silently if a table were edited carelessly (a
// soft key without a label, a popup key without a menu, a duplicated control
// id, a field that falls outside the phone's area).
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/resource_format.h"
#include "resources/ids.h"

namespace {

constexpr int DIALOG_IDS[] = {DIALOG_MAIN, DIALOG_SETTINGS, DIALOG_SEARCH, DIALOG_PROGRESS, DIALOG_USERS};
constexpr int MENUBAR_IDS[] = {MENUBAR_MAIN, MENUBAR_SETTINGS, MENUBAR_SEARCH, MENUBAR_USERS, MENUBAR_PROGRESS};

std::vector<int> commands_of(int menu_id) {
    std::vector<int> ids;
    const MenuResource* menu = resource_menu(KIVO_INSTANCE, menu_id);
    for (int i = 0; menu && i < menu->entry_count; i++) ids.push_back(menu->entries[i].command);
    return ids;
}

TEST(Resources, EveryProgramResourceIsFoundAndOnlyInTheProgramsInstance) {
    for (int id : DIALOG_IDS) {
        EXPECT_NE(resource_dialog(KIVO_INSTANCE, id), nullptr) << id;
        EXPECT_EQ(resource_dialog(0, id), nullptr) << id;
    }
    for (int id : MENUBAR_IDS) EXPECT_NE(resource_menubar(KIVO_INSTANCE, id), nullptr) << id;
    EXPECT_NE(resource_icon(KIVO_INSTANCE, ICON_PROGRAM), nullptr);
    EXPECT_EQ(resource_dialog(KIVO_INSTANCE, 1006), nullptr);
    EXPECT_EQ(resource_string(KIVO_INSTANCE, 1), nullptr);
}

TEST(Resources, EverySoftKeyHasALabelAndEveryPopupKeyHasEntries) {
    for (int id : MENUBAR_IDS) {
        const MenuBarResource* bar = resource_menubar(KIVO_INSTANCE, id);
        for (const SoftKey& key : bar->keys) {
            EXPECT_NE(resource_string(KIVO_INSTANCE, key.string_id), nullptr) << id;
            if (key.popup) EXPECT_FALSE(commands_of(id).empty()) << id;
            else EXPECT_NE(key.command, 0) << id;
        }
    }
    EXPECT_EQ(std::u16string(resource_string(KIVO_INSTANCE, 12004)), u"Menu");
    EXPECT_EQ(std::u16string(resource_string(KIVO_INSTANCE, 12005)), u"Search");
}

TEST(Resources, MenusKeepTheirEntriesInOrderWithTheirCommands) {
    EXPECT_EQ(commands_of(MENUBAR_MAIN), (std::vector<int>{6002, 6004, 6007, 6008, 6005, 6025, 6009, 6006, 6003}));
    EXPECT_EQ(commands_of(MENUBAR_SEARCH), (std::vector<int>{6017, 6018, 6019, 6014, 6013, 6016, 6016}));
    EXPECT_EQ(commands_of(MENUBAR_USERS), (std::vector<int>{6001, 6026, 6020, 6022}));
    EXPECT_EQ(commands_of(MENUBAR_PROGRESS), (std::vector<int>{6023}));
    const MenuBarResource* main = resource_menubar(KIVO_INSTANCE, MENUBAR_MAIN);
    EXPECT_TRUE(main->keys[0].popup);
    EXPECT_EQ(main->keys[1].command, 12005);
    const MenuBarResource* settings = resource_menubar(KIVO_INSTANCE, MENUBAR_SETTINGS);
    EXPECT_EQ(settings->keys[0].command, 6011);
    EXPECT_EQ(settings->keys[1].command, 6012);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_SEARCH)->keys[1].command, 6005);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_USERS)->keys[1].command, 6024);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_PROGRESS)->keys[1].command, 6024);
}

TEST(Resources, ControlIdsAreUniqueWithinEachScreen) {
    for (int id : DIALOG_IDS) {
        const DialogTemplate* d = resource_dialog(KIVO_INSTANCE, id);
        std::set<int> seen;
        for (int i = 0; i < d->control_count; i++) EXPECT_TRUE(seen.insert(d->controls[i].id).second) << id;
    }
}

TEST(Resources, EveryControlAScreenUsesIsThereWithItsKind) {
    struct Expect {
        int dialog, control;
        ControlKind kind;
    };
    const Expect controls[] = {
        {1001, 4003, CONTROL_EDIT}, {1001, 4001, CONTROL_EDIT}, {1001, 4007, CONTROL_BUTTON},
        {1002, 4015, CONTROL_COMBO}, {1002, 4002, CONTROL_EDIT}, {1002, 4004, CONTROL_EDIT},
        {1002, 4005, CONTROL_EDIT}, {1002, 4006, CONTROL_EDIT}, {1002, 4011, CONTROL_EDIT},
        {1002, 4016, CONTROL_STATIC}, {1002, 4007, CONTROL_STATIC}, {1002, 4008, CONTROL_STATIC},
        {1002, 4009, CONTROL_STATIC}, {1002, 4010, CONTROL_STATIC}, {1002, 4013, CONTROL_STATIC},
        {1002, 4012, CONTROL_STATIC}, {1003, 4007, CONTROL_EDIT}, {1003, IDOK, CONTROL_BUTTON},
        {1003, 4008, CONTROL_LIST}, {1004, 4010, CONTROL_PROGRESS}, {1004, 4012, CONTROL_STATIC},
        {1004, 4013, CONTROL_STATIC}, {1005, 4009, CONTROL_LIST},
    };
    for (const Expect& e : controls) {
        const ControlTemplate* c = resource_control(resource_dialog(KIVO_INSTANCE, e.dialog), e.control);
        ASSERT_NE(c, nullptr) << e.dialog << "/" << e.control;
        EXPECT_EQ(c->kind, e.kind) << e.dialog << "/" << e.control;
    }
    const DialogTemplate* main = resource_dialog(KIVO_INSTANCE, DIALOG_MAIN);
    EXPECT_EQ(std::u16string(main->title), u"Kivo");
    EXPECT_EQ(std::u16string(main->class_name), u"movraClass");
    EXPECT_TRUE(resource_control(main, 4007)->style & STYLE_DISABLED);
    uint32_t view = resource_control(main, 4003)->style;
    EXPECT_TRUE((view & STYLE_MULTILINE) && (view & STYLE_READONLY));
    uint32_t local_ip = resource_control(resource_dialog(KIVO_INSTANCE, DIALOG_SETTINGS), 4011)->style;
    EXPECT_TRUE((local_ip & STYLE_DISABLED) && (local_ip & STYLE_READONLY));
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_SEARCH)->title), u"Search");
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_PROGRESS)->title), u"");
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_USERS)->title), u"");
}

// Every control but the main screen's never-used "send" button lies inside
// the phone's area, so the layout shows it.
TEST(Resources, EveryUsableControlLiesInsideThePhonesArea) {
    for (int id : DIALOG_IDS) {
        const DialogTemplate* d = resource_dialog(KIVO_INSTANCE, id);
        for (int i = 0; i < d->control_count; i++) {
            const ControlTemplate* c = &d->controls[i];
            if (id == DIALOG_MAIN && c->id == 4007) continue;
            EXPECT_LE(c->x + c->width, DIALOG_UNITS_WIDE) << id << "/" << c->id;
            EXPECT_LE(c->y + c->height, DIALOG_UNITS_HIGH) << id << "/" << c->id;
        }
    }
}

}  // namespace
