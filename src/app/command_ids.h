// Command ids of the main frame's menu and toolbar. The ids are kept on the QActions
// (QAction::data) so that every command keeps its identity from the menu to its handler.
#pragma once

namespace lapquill {

enum CommandId : int {
    ID_VIEW_ZOOM_IN = 144,
    ID_VIEW_ZOOM_OUT = 145,
    ID_VIEW_MOVE_LEFT = 146,
    ID_VIEW_MOVE_RIGHT = 147,
    ID_VIEW_MOVE_UP = 148,
    ID_VIEW_MOVE_DOWN = 149,
    ID_REPLAY_START = 150,
    ID_REPLAY_END = 151,
    ID_REPLAY_PLAY_PAUSE = 152,
    ID_REPLAY_DEC_SPEED = 153,
    ID_REPLAY_INC_SPEED = 154,
    ID_REPLAY_REVERSE = 155,
    ID_FILE_OPEN_REPLAYS = 156,
    ID_FILE_ADD_REPLAYS = 157,
    ID_VIEW_TOGGLE_STATS = 158,
    ID_SEGMENT_MARK_START = 159,
    ID_SEGMENT_MARK_END = 160,
    ID_SYNC_LAP = 162,
    ID_SYNC_SEGMENT_MARKER = 163,
    ID_SYNC_DETECTED_CORNER = 164,
    ID_SEGMENT_PREVIOUS = 165,
    ID_SEGMENT_NEXT = 166,
    ID_RENDER_FRAME = 130,
    ID_PREFERENCES = 32774,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

}  // namespace lapquill
