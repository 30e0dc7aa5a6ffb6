// The desktop shortcut to the client: created after an install with its icon moved after the last
// desktop icon, removed by the uninstaller only when it still points into the folder it removes.
// All of it runs on worker threads, each in a COM apartment of its own.
#pragma once

#include <string>
#include <vector>

// True when the shortcut file was saved, whatever became of the icon placement.
bool createDesktopShortcut(const std::wstring& exe, const std::wstring& installDir);

// Moves the newest desktop icon with that file name after the last icon; gives up silently.
void placeDesktopIcon(const std::wstring& fileName);

// True when a shortcut pointing into installDir was found and deleted.
bool deleteDesktopShortcut(const std::wstring& installDir);

// The arithmetic of the placement, over the primary monitor's work area and the desktop's icons.
struct IconRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};
struct DesktopIcon {
  int x = 0;
  int y = 0;
  bool hasBounds = false;  // the item's bounds could be read
  IconRect bounds;
};
struct IconTarget {
  int x = 0;
  int y = 0;
  int cellWidth = 0;
  int cellHeight = 0;
};
IconTarget iconTarget(const IconRect& workArea, const std::vector<DesktopIcon>& icons);
