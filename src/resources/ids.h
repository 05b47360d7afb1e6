// Every resource id of the program, in one place: the tables in
// resources.cpp and the screen procedures both use these names. A number may
// stand for two things in two different screens (the platform looks a control
// up within its own screen, a command within the screen that gets it); inside
// one screen every number names one thing.
#pragma once

// --- Dialog templates --------------------------------------------------------
constexpr int DIALOG_MAIN = 1001;
constexpr int DIALOG_SETTINGS = 1002;
constexpr int DIALOG_SEARCH = 1003;
constexpr int DIALOG_PROGRESS = 1004;
constexpr int DIALOG_USERS = 1005;
constexpr int DIALOG_PASSWORD = 1006;
constexpr int DIALOG_PRIVATE_LIST = 1007;  // Menu > Private: the conversations
constexpr int DIALOG_PRIVATE_CHAT = 1008;  // one conversation
constexpr int DIALOG_BROWSE = 1009;        // one folder of a user's file list
constexpr int DIALOG_FIND = 1010;          // the words Find looks for in a file list
constexpr int DIALOG_KEPT_LISTS = 1011;    // Menu > File lists: the lists kept

// --- Soft-key bars (and the menus their "Menu" keys open) -------------------------
constexpr int MENUBAR_MAIN = 2001;
constexpr int MENUBAR_SETTINGS = 2002;
constexpr int MENUBAR_SEARCH = 2003;
constexpr int MENUBAR_USERS = 2004;
constexpr int MENUBAR_PROGRESS = 2005;
constexpr int MENUBAR_PASSWORD = 2006;
constexpr int MENUBAR_PRIVATE_LIST = 2007;
constexpr int MENUBAR_PRIVATE_CHAT = 2008;
constexpr int MENUBAR_BROWSE = 2009;
constexpr int MENUBAR_FIND = 2010;
constexpr int MENUBAR_KEPT_LISTS = 2011;

constexpr int ICON_PROGRAM = 8001;

// --- Strings (soft-key labels) ---------------------------------------------------
constexpr int STRING_MENU = 12004;
constexpr int STRING_SEARCH = 12005;
constexpr int STRING_OK = 12006;
constexpr int STRING_CANCEL = 12007;
constexpr int STRING_DOWNLOAD = 12008;
constexpr int STRING_EXIT = 12009;
constexpr int STRING_OPEN = 12010;
constexpr int STRING_SEND = 12011;

// --- Controls, by screen -------------------------------------------------------------
// Main screen.
constexpr int ID_MAIN_INPUT_LINE = 4001;
constexpr int ID_MAIN_CHAT_VIEW = 4003;
constexpr int ID_MAIN_SEND = 4007;  // below the client area: never shown
// Settings screen: each field and the label before it.
constexpr int ID_SETTINGS_HOST = 4002;
constexpr int ID_SETTINGS_PORT = 4004;
constexpr int ID_SETTINGS_NICK = 4005;
constexpr int ID_SETTINGS_SHARE = 4006;
constexpr int ID_SETTINGS_HOST_LABEL = 4007;
constexpr int ID_SETTINGS_PORT_LABEL = 4008;
constexpr int ID_SETTINGS_NICK_LABEL = 4009;
constexpr int ID_SETTINGS_SHARE_LABEL = 4010;
constexpr int ID_SETTINGS_LOCAL_IP = 4011;
constexpr int ID_SETTINGS_LOCAL_IP_LABEL = 4012;
constexpr int ID_SETTINGS_BYTES_LABEL = 4013;
constexpr int ID_SETTINGS_ENCODING = 4014;  // which encoding the hub is read in: Auto, UTF-8, CP1251, CP1252
constexpr int ID_SETTINGS_ENCODING_LABEL = 4026;
constexpr int ID_SETTINGS_FAVORITES = 4015;
constexpr int ID_SETTINGS_HUB_LABEL = 4016;
constexpr int ID_SETTINGS_PASSWORD = 4020;  // drawn as stars
constexpr int ID_SETTINGS_PASSWORD_LABEL = 4021;
constexpr int ID_SETTINGS_FOLDER = 4022;    // where downloads go
constexpr int ID_SETTINGS_FOLDER_LABEL = 4023;
constexpr int ID_SETTINGS_TIMES = 4024;     // chat timestamps: "on" or "off"
constexpr int ID_SETTINGS_TIMES_LABEL = 4025;
constexpr int ID_SETTINGS_SLOTS = 4027;     // downloads at once: 1 to 10
constexpr int ID_SETTINGS_SLOTS_LABEL = 4028;
// Active mode: Auto, Active, Passive (ConnectMode's order); the listening
// port (TCP and UDP) and the TLS one, empty for any free port; the dotted
// IPv4 address peers are told, empty when found automatically.
constexpr int ID_SETTINGS_MODE = 4040;
constexpr int ID_SETTINGS_MODE_LABEL = 4041;
constexpr int ID_SETTINGS_LISTEN_PORT = 4042;
constexpr int ID_SETTINGS_LISTEN_PORT_LABEL = 4043;
constexpr int ID_SETTINGS_TLS_PORT = 4044;
constexpr int ID_SETTINGS_TLS_PORT_LABEL = 4045;
constexpr int ID_SETTINGS_EXTERNAL = 4046;
constexpr int ID_SETTINGS_EXTERNAL_LABEL = 4047;
// Results screen (its OK button is IDOK).
constexpr int ID_SEARCH_WORDS = 4007;
constexpr int ID_SEARCH_LIST = 4008;
constexpr int ID_SEARCH_STATUS = 4019;  // "searching...", "N results", ...
// Downloads screen: the queue, one entry a row.
constexpr int ID_PROGRESS_LIST = 4010;
// Users screen.
constexpr int ID_USERS_LIST = 4009;
// Password prompt.
constexpr int ID_PASSWORD_LABEL = 4017;
constexpr int ID_PASSWORD_FIELD = 4018;
// Private list and conversation screens.
constexpr int ID_PRIVATE_LIST = 4020;
constexpr int ID_PRIVATE_VIEW = 4021;
constexpr int ID_PRIVATE_INPUT = 4022;
// Browse screen, its Find prompt, and the File lists screen.
constexpr int ID_BROWSE_STATUS = 4030;  // a cut list's note, what Download queued, ...
constexpr int ID_BROWSE_LIST = 4031;
constexpr int ID_FIND_LABEL = 4032;
constexpr int ID_FIND_FIELD = 4033;
constexpr int ID_KEPT_LIST = 4034;

// --- Commands (menu entries and command soft keys) ----------------------------------
// Main menu, and the main screen's "Search" soft key.
constexpr int CMD_EXIT = 6002;
constexpr int CMD_OPTION = 6003;
constexpr int CMD_CONNECT = 6004;
constexpr int CMD_DOWNLOADS = 6005;
constexpr int CMD_USERS = 6006;
constexpr int CMD_DISCONNECT = 6007;
constexpr int CMD_CLEAR_CHAT = 6008;
constexpr int CMD_TRAFFIC = 6009;
constexpr int CMD_ABOUT = 6025;
constexpr int CMD_PRIVATE = 6029;
constexpr int CMD_FILE_LISTS = 6056;
constexpr int CMD_SEARCH_SCREEN = 12005;
// Settings soft keys.
constexpr int CMD_SETTINGS_OK = 6011;
constexpr int CMD_SETTINGS_CANCEL = 6012;
// Results screen: menu and the "Download" soft key.
constexpr int CMD_DOWNLOAD = 6005;
constexpr int CMD_SEARCH = 6013;
constexpr int CMD_SEARCH_CANCEL = 6014;  // in the menu, deliberately without an action
constexpr int CMD_SEARCH_EXIT = 6016;    // "Exit search" and "Ok"
constexpr int CMD_RESULT_INFO = 6017;
constexpr int CMD_SHORT_NAMES = 6018;
constexpr int CMD_FULL_PATHS = 6019;
constexpr int CMD_SORT_NAME = 6041;
constexpr int CMD_SORT_SIZE = 6042;
constexpr int CMD_SORT_SOURCES = 6043;
constexpr int CMD_RESULT_BROWSE = 6059;  // the result's user's list, at the result's folder
// Users screen menu.
constexpr int CMD_USERS_TO_CHAT = 6001;
constexpr int CMD_USERS_PRIVATE = 6020;
constexpr int CMD_USERS_INFO = 6022;
constexpr int CMD_USERS_REFRESH = 6026;
constexpr int CMD_USERS_BROWSE = 6057;
constexpr int CMD_USERS_PRIVATE_LINE = 6058;  // ">nick " into the main input line
// Downloads screen menu: the person's commands on the selected entry, and
// on the finished ones.
constexpr int CMD_QUEUE_PAUSE = 6023;
constexpr int CMD_QUEUE_RESUME = 6033;
constexpr int CMD_QUEUE_RETRY = 6034;
constexpr int CMD_QUEUE_UP = 6035;
constexpr int CMD_QUEUE_DOWN = 6036;
constexpr int CMD_QUEUE_REMOVE = 6037;
constexpr int CMD_QUEUE_CLEAR = 6038;
constexpr int CMD_QUEUE_DETAILS = 6039;
// The "EXIT" soft key of the Users and Downloads screens.
constexpr int CMD_SCREEN_EXIT = 6024;
// Password prompt soft keys.
constexpr int CMD_PASSWORD_OK = 6027;
constexpr int CMD_PASSWORD_CANCEL = 6028;
// Private list and conversation soft keys ("EXIT" is CMD_SCREEN_EXIT).
constexpr int CMD_PRIVATE_OPEN = 6030;
constexpr int CMD_PRIVATE_SEND = 6031;
// Browse screen menu and its "Download" soft key; the Find prompt's soft
// keys; the File lists screen's menu.
constexpr int CMD_BROWSE_DOWNLOAD = 6044;
constexpr int CMD_BROWSE_INFO = 6045;
constexpr int CMD_BROWSE_FIND = 6046;
constexpr int CMD_BROWSE_NEXT = 6047;
constexpr int CMD_BROWSE_SORT_NAME = 6048;
constexpr int CMD_BROWSE_SORT_SIZE = 6049;
constexpr int CMD_BROWSE_REFRESH = 6050;
constexpr int CMD_FIND_OK = 6051;
constexpr int CMD_FIND_CANCEL = 6052;
constexpr int CMD_KEPT_OPEN = 6053;
constexpr int CMD_KEPT_REFRESH = 6054;
constexpr int CMD_KEPT_REMOVE = 6055;
