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

constexpr int DIALOG_IDS[] = {DIALOG_MAIN,     DIALOG_SETTINGS, DIALOG_SEARCH,       DIALOG_PROGRESS,
                               DIALOG_USERS,    DIALOG_PASSWORD, DIALOG_PRIVATE_LIST, DIALOG_PRIVATE_CHAT,
                               DIALOG_BROWSE,   DIALOG_FIND,     DIALOG_KEPT_LISTS};
constexpr int MENUBAR_IDS[] = {MENUBAR_MAIN,     MENUBAR_SETTINGS,     MENUBAR_SEARCH,
                               MENUBAR_USERS,    MENUBAR_PROGRESS,     MENUBAR_PASSWORD,
                               MENUBAR_PRIVATE_LIST, MENUBAR_PRIVATE_CHAT, MENUBAR_BROWSE,
                               MENUBAR_FIND,     MENUBAR_KEPT_LISTS};

// The ids are the contract between the tables and the screen procedures:
// their numbers stay as they are.
static_assert(DIALOG_MAIN == 1001 && DIALOG_SETTINGS == 1002 && DIALOG_SEARCH == 1003 &&
              DIALOG_PROGRESS == 1004 && DIALOG_USERS == 1005 && DIALOG_PASSWORD == 1006);
static_assert(MENUBAR_MAIN == 2001 && MENUBAR_SETTINGS == 2002 && MENUBAR_SEARCH == 2003 &&
              MENUBAR_USERS == 2004 && MENUBAR_PROGRESS == 2005 && MENUBAR_PASSWORD == 2006);
static_assert(STRING_MENU == 12004 && STRING_SEARCH == 12005);
static_assert(ID_MAIN_INPUT_LINE == 4001 && ID_MAIN_CHAT_VIEW == 4003 && ID_MAIN_SEND == 4007);
static_assert(ID_SETTINGS_HOST == 4002 && ID_SETTINGS_PORT == 4004 && ID_SETTINGS_NICK == 4005 &&
              ID_SETTINGS_SHARE == 4006 && ID_SETTINGS_HOST_LABEL == 4007 && ID_SETTINGS_PORT_LABEL == 4008 &&
              ID_SETTINGS_NICK_LABEL == 4009 && ID_SETTINGS_SHARE_LABEL == 4010 && ID_SETTINGS_LOCAL_IP == 4011 &&
              ID_SETTINGS_LOCAL_IP_LABEL == 4012 && ID_SETTINGS_BYTES_LABEL == 4013 &&
              ID_SETTINGS_ENCODING == 4014 && ID_SETTINGS_FAVORITES == 4015 && ID_SETTINGS_HUB_LABEL == 4016);
static_assert(ID_SEARCH_WORDS == 4007 && ID_SEARCH_LIST == 4008);
static_assert(ID_PROGRESS_LIST == 4010);
static_assert(ID_USERS_LIST == 4009);
static_assert(CMD_EXIT == 6002 && CMD_OPTION == 6003 && CMD_CONNECT == 6004 && CMD_DOWNLOADS == 6005 &&
              CMD_USERS == 6006 && CMD_DISCONNECT == 6007 && CMD_CLEAR_CHAT == 6008 && CMD_TRAFFIC == 6009 &&
              CMD_ABOUT == 6025 && CMD_SEARCH_SCREEN == 12005);
static_assert(CMD_SETTINGS_OK == 6011 && CMD_SETTINGS_CANCEL == 6012);
static_assert(CMD_DOWNLOAD == 6005 && CMD_SEARCH == 6013 && CMD_SEARCH_CANCEL == 6014 && CMD_SEARCH_EXIT == 6016 &&
              CMD_RESULT_INFO == 6017 && CMD_SHORT_NAMES == 6018 && CMD_FULL_PATHS == 6019);
static_assert(CMD_USERS_TO_CHAT == 6001 && CMD_USERS_PRIVATE == 6020 && CMD_USERS_INFO == 6022 &&
              CMD_USERS_REFRESH == 6026);
static_assert(CMD_QUEUE_PAUSE == 6023 && CMD_SCREEN_EXIT == 6024);
static_assert(ID_PASSWORD_LABEL == 4017 && ID_PASSWORD_FIELD == 4018 && CMD_PASSWORD_OK == 6027 &&
              CMD_PASSWORD_CANCEL == 6028);

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
    EXPECT_EQ(resource_dialog(KIVO_INSTANCE, 1099), nullptr);
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
    EXPECT_EQ(std::u16string(resource_string(KIVO_INSTANCE, STRING_MENU)), u"Menu");
    EXPECT_EQ(std::u16string(resource_string(KIVO_INSTANCE, STRING_SEARCH)), u"Search");
}

TEST(Resources, MenusKeepTheirEntriesInOrderWithTheirCommands) {
    EXPECT_EQ(commands_of(MENUBAR_MAIN), (std::vector<int>{CMD_EXIT, CMD_CONNECT, CMD_DISCONNECT, CMD_CLEAR_CHAT,
                                                           CMD_DOWNLOADS, CMD_ABOUT, CMD_TRAFFIC, CMD_USERS,
                                                           CMD_OPTION, CMD_PRIVATE, CMD_FILE_LISTS}));
    EXPECT_EQ(commands_of(MENUBAR_SEARCH), (std::vector<int>{CMD_RESULT_INFO, CMD_SHORT_NAMES, CMD_FULL_PATHS,
                                                             CMD_SEARCH_CANCEL, CMD_SEARCH, CMD_SEARCH_EXIT,
                                                             CMD_SEARCH_EXIT, CMD_SORT_NAME, CMD_SORT_SIZE,
                                                             CMD_SORT_SOURCES, CMD_RESULT_BROWSE}));
    EXPECT_EQ(commands_of(MENUBAR_USERS),
              (std::vector<int>{CMD_USERS_TO_CHAT, CMD_USERS_REFRESH, CMD_USERS_PRIVATE, CMD_USERS_INFO,
                                CMD_USERS_BROWSE, CMD_USERS_PRIVATE_LINE}));
    EXPECT_EQ(commands_of(MENUBAR_BROWSE),
              (std::vector<int>{CMD_BROWSE_DOWNLOAD, CMD_BROWSE_INFO, CMD_BROWSE_FIND, CMD_BROWSE_NEXT,
                                CMD_BROWSE_SORT_NAME, CMD_BROWSE_SORT_SIZE, CMD_BROWSE_REFRESH}));
    EXPECT_EQ(commands_of(MENUBAR_PROGRESS),
              (std::vector<int>{CMD_QUEUE_PAUSE, CMD_QUEUE_RESUME, CMD_QUEUE_RETRY, CMD_QUEUE_UP, CMD_QUEUE_DOWN,
                                CMD_QUEUE_REMOVE, CMD_QUEUE_CLEAR, CMD_QUEUE_DETAILS}));
    const MenuBarResource* main = resource_menubar(KIVO_INSTANCE, MENUBAR_MAIN);
    EXPECT_TRUE(main->keys[0].popup);
    EXPECT_EQ(main->keys[1].command, CMD_SEARCH_SCREEN);
    const MenuBarResource* settings = resource_menubar(KIVO_INSTANCE, MENUBAR_SETTINGS);
    EXPECT_EQ(settings->keys[0].command, CMD_SETTINGS_OK);
    EXPECT_EQ(settings->keys[1].command, CMD_SETTINGS_CANCEL);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_SEARCH)->keys[1].command, CMD_DOWNLOAD);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_USERS)->keys[1].command, CMD_SCREEN_EXIT);
    EXPECT_EQ(resource_menubar(KIVO_INSTANCE, MENUBAR_PROGRESS)->keys[1].command, CMD_SCREEN_EXIT);
    const MenuBarResource* password = resource_menubar(KIVO_INSTANCE, MENUBAR_PASSWORD);
    EXPECT_EQ(password->keys[0].command, CMD_PASSWORD_OK);
    EXPECT_EQ(password->keys[1].command, CMD_PASSWORD_CANCEL);
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
        {DIALOG_MAIN, ID_MAIN_CHAT_VIEW, CONTROL_EDIT},
        {DIALOG_MAIN, ID_MAIN_INPUT_LINE, CONTROL_EDIT},
        {DIALOG_MAIN, ID_MAIN_SEND, CONTROL_BUTTON},
        {DIALOG_SETTINGS, ID_SETTINGS_FAVORITES, CONTROL_COMBO},
        {DIALOG_SETTINGS, ID_SETTINGS_HOST, CONTROL_EDIT},
        {DIALOG_SETTINGS, ID_SETTINGS_PORT, CONTROL_EDIT},
        {DIALOG_SETTINGS, ID_SETTINGS_NICK, CONTROL_EDIT},
        {DIALOG_SETTINGS, ID_SETTINGS_SHARE, CONTROL_EDIT},
        {DIALOG_SETTINGS, ID_SETTINGS_LOCAL_IP, CONTROL_EDIT},
        {DIALOG_SETTINGS, ID_SETTINGS_HUB_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_HOST_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_PORT_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_NICK_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_SHARE_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_BYTES_LABEL, CONTROL_STATIC},
        {DIALOG_SETTINGS, ID_SETTINGS_LOCAL_IP_LABEL, CONTROL_STATIC},
        {DIALOG_SEARCH, ID_SEARCH_WORDS, CONTROL_EDIT},
        {DIALOG_SEARCH, IDOK, CONTROL_BUTTON},
        {DIALOG_SEARCH, ID_SEARCH_LIST, CONTROL_LIST},
        {DIALOG_PROGRESS, ID_PROGRESS_LIST, CONTROL_LIST},
        {DIALOG_SETTINGS, ID_SETTINGS_SLOTS, CONTROL_COMBO},
        {DIALOG_SETTINGS, ID_SETTINGS_SLOTS_LABEL, CONTROL_STATIC},
        {DIALOG_USERS, ID_USERS_LIST, CONTROL_LIST},
        {DIALOG_SETTINGS, ID_SETTINGS_ENCODING, CONTROL_COMBO},
        {DIALOG_SETTINGS, ID_SETTINGS_ENCODING_LABEL, CONTROL_STATIC},
        {DIALOG_PASSWORD, ID_PASSWORD_LABEL, CONTROL_STATIC},
        {DIALOG_PASSWORD, ID_PASSWORD_FIELD, CONTROL_EDIT},
        {DIALOG_PRIVATE_LIST, ID_PRIVATE_LIST, CONTROL_LIST},
        {DIALOG_PRIVATE_CHAT, ID_PRIVATE_VIEW, CONTROL_EDIT},
        {DIALOG_PRIVATE_CHAT, ID_PRIVATE_INPUT, CONTROL_EDIT},
        {DIALOG_BROWSE, ID_BROWSE_STATUS, CONTROL_STATIC},
        {DIALOG_BROWSE, ID_BROWSE_LIST, CONTROL_LIST},
        {DIALOG_FIND, ID_FIND_FIELD, CONTROL_EDIT},
        {DIALOG_KEPT_LISTS, ID_KEPT_LIST, CONTROL_LIST},
    };
    for (const Expect& e : controls) {
        const ControlTemplate* c = resource_control(resource_dialog(KIVO_INSTANCE, e.dialog), e.control);
        ASSERT_NE(c, nullptr) << e.dialog << "/" << e.control;
        EXPECT_EQ(c->kind, e.kind) << e.dialog << "/" << e.control;
    }
    const DialogTemplate* main = resource_dialog(KIVO_INSTANCE, DIALOG_MAIN);
    EXPECT_EQ(std::u16string(main->title), u"Kivo");
    EXPECT_EQ(std::u16string(main->class_name), u"movraClass");
    EXPECT_TRUE(resource_control(main, ID_MAIN_SEND)->style & STYLE_DISABLED);
    uint32_t view = resource_control(main, ID_MAIN_CHAT_VIEW)->style;
    EXPECT_TRUE((view & STYLE_MULTILINE) && (view & STYLE_READONLY));
    uint32_t local_ip = resource_control(resource_dialog(KIVO_INSTANCE, DIALOG_SETTINGS), ID_SETTINGS_LOCAL_IP)->style;
    EXPECT_TRUE((local_ip & STYLE_DISABLED) && (local_ip & STYLE_READONLY));
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_SEARCH)->title), u"Search");
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_PROGRESS)->title), u"Downloads");
    EXPECT_EQ(std::u16string(resource_dialog(KIVO_INSTANCE, DIALOG_USERS)->title), u"");
    // What is typed for a password is drawn as '*'.
    const DialogTemplate* prompt = resource_dialog(KIVO_INSTANCE, DIALOG_PASSWORD);
    EXPECT_TRUE(resource_control(prompt, ID_PASSWORD_FIELD)->style & STYLE_PASSWORD);
}

// Every control but the main screen's never-used "send" button lies inside
// the phone's area, so the layout shows it.
TEST(Resources, EveryUsableControlLiesInsideThePhonesArea) {
    for (int id : DIALOG_IDS) {
        const DialogTemplate* d = resource_dialog(KIVO_INSTANCE, id);
        for (int i = 0; i < d->control_count; i++) {
            const ControlTemplate* c = &d->controls[i];
            if (id == DIALOG_MAIN && c->id == ID_MAIN_SEND) continue;
            EXPECT_LE(c->x + c->width, DIALOG_UNITS_WIDE) << id << "/" << c->id;
            EXPECT_LE(c->y + c->height, DIALOG_UNITS_HIGH) << id << "/" << c->id;
        }
    }
}

}  // namespace
