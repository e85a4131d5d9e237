// The program's resources as data.
#include "app/resources.h"

namespace {

const StringResource kStrings[] = {
    {102, u"Quillmote"},
    {300, u"Действия"},
    {301, u"Выход"},
    {400, u"Выйти из программы не дожидаясь окончания действия?"},
    {401,
     u"Quillmote (0.0.0.4) умеет делать экспорт (сохранение) в текстовый файл и импорт "
     u"(загрузку) из текстового файла:\r\n  - Контактов\r\n  - Календаря\r\n  - Задач\r\n"
     u"  - Звонков (только экспорт)"},
    {402, u"Подготовка..."},
    {403, u"Текстовые файлы\t*.txt\tФайлы CSV\t*.csv\tВсе файлы\t*.*\t\t"},
    {404, u"Сохранить в файл..."},
    {405, u"Загрузить из файла..."},
    {500, u"Сохранение Контактов..."},
    {501, u"Сохранение Календаря..."},
    {502, u"Сохранение Задач..."},
    {503, u"Сохранение Звонков..."},
    {505, u"Загрузка Контактов..."},
    {506, u"Загрузка Календаря..."},
    {507, u"Загрузка Задач..."},
    {510, u"Удаление Контактов..."},
    {511, u"Удаление из Календаря..."},
    {512, u"Удаление Задач..."},
    {515, u"Экспорт Контактов завершен. Сохранено записей: %d"},
    {516, u"Экспорт Календаря завершен. Сохранено записей: %d"},
    {517, u"Экспорт Задач завершен. Сохранено записей: %d"},
    {518, u"Экспорт Звонков завершен. Сохранено записей: %d"},
    {520, u"Импорт Контактов завершен. Загружено записей: %d"},
    {521, u"Импорт Календаря завершен. Загружено записей: %d"},
    {522, u"Импорт Задач завершен. Загружено записей: %d"},
    {525, u"Удалить существующие Контакты?"},
    {526, u"В Календаре есть записи. Удалить их?"},
    {527, u"Удалить существующие Задачи?"},
    {530, u"Ошибка при работе с Контактами!"},
    {531, u"Ошибка при работе с Календарем!"},
    {532, u"Ошибка при работе с Задачами!"},
    {533, u"Ошибка при работе со Звонками!"},
    {535, u"Ошибка при удалении Контакта!"},
    {536, u"Ошибка при удалении записи Календаря!"},
    {537, u"Ошибка при удалении Задачи!"},
    {540, u"Контактов нет, сохранять нечего..."},
    {541, u"В Календаре записей нет, сохранять нечего..."},
    {542, u"Задач нет, сохранять нечего..."},
    {543, u"Звонков нет, сохранять нечего..."},
    {545, u"Не удалось создать Контакт!"},
    {546, u"Не удалось создать запись в Календаре!"},
    {547, u"Не удалось создать Задачу!"},
    {600, u"Quillmote не может работать на этом устройстве..."},
    {601, u"Ошибка при доступе к папке!"},
    {602, u"Ошибка при получении элементов!"},
    {603, u"Системная ошибка. Не удалось создать поток."},
    {604, u"Ошибка при открытии файла!"},
    {605, u"Ошибка при чтении из файла"},
    {606, u"Файл не UNICODE!"},
    {607, u"Ошибка при записи в файл"},
    {608, u"Не удалось получить объект приложения!"},
    {609, u"Не удалось получить информацию. Действие будет прервано."},
    {610, u"Не загружено слишком длинных полей: %d"},
    {611, u"Не сохранено в файл значений: %d"},
    {612, u"Сохранённые записи оставлены в файле %s"},
    {613, u"Загружено записей до остановки: %d"},
};

// Credit line, about text, status line, progress bar: in this order, the tab order.
const DialogControlTemplate kMainControls[] = {
    {IDC_CREDIT, WC_STATIC, u"Quillmote · резервные копии КПК", 7, 75, 67, 8,
     WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {IDC_ABOUT, WC_STATIC, u"Static", 4, 4, 56, 27,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_GROUP | SS_LEFT},
    {IDC_STATUS, WC_STATIC, u"Static", 67, 12, 19, 8, WS_CHILD | WS_GROUP | SS_LEFT},
    {IDC_PROGRESS, PROGRESS_CLASS, u"Progress1", 65, 25, 80, 6, WS_CHILD | WS_BORDER},
};

const DialogTemplate kDialogs[] = {
    {IDD_MAIN, 0, 0, 186, 90, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, u"", 8, u"System",
     kMainControls, static_cast<int>(sizeof kMainControls / sizeof kMainControls[0])},
};

const MenuItemTemplate kActions[] = {
    {MF_STRING, 203, u"&Сохранить Контакты в файл", nullptr, 0},
    {MF_STRING, 204, u"&Загрузить Контакты из файла", nullptr, 0},
    {MF_SEPARATOR, 0, nullptr, nullptr, 0},
    {MF_STRING, 205, u"С&охранить Календарь в файл", nullptr, 0},
    {MF_STRING, 206, u"З&агрузить Календарь из файла", nullptr, 0},
    {MF_SEPARATOR, 0, nullptr, nullptr, 0},
    {MF_STRING, 207, u"Со&хранить Задачи в файл", nullptr, 0},
    {MF_STRING, 208, u"За&грузить Задачи из файла", nullptr, 0},
    {MF_SEPARATOR, 0, nullptr, nullptr, 0},
    {MF_STRING, 209, u"Сох&ранить Звонки в файл", nullptr, 0},
};

const MenuItemTemplate kMenuTop[] = {
    {MF_STRING, IDM_EXIT, u"Выход", nullptr, 0},
    {MF_POPUP, 0, u"Действия", kActions, static_cast<int>(sizeof kActions / sizeof kActions[0])},
};

const MenuTemplate kMenus[] = {
    {IDR_MENU, kMenuTop, 2},
};

const MenuBarButtonTemplate kMenuBarButtons[] = {
    {I_IMAGENONE, IDM_EXIT, TBSTATE_ENABLED, TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE, IDS_EXIT, NOMENU},
    {I_IMAGENONE, IDM_ACTIONS, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, IDS_ACTIONS,
     1},
};

const MenuBarTemplate kMenuBars[] = {
    {IDR_MENUBAR, IDR_MENU, kMenuBarButtons, 2},
};

// A quill over a page.
const char* const kIconRows[] = {
    "..............##",  //
    ".............##.",  //
    "............###.",  //
    "...........###..",  //
    "..........###...",  //
    ".#######.###....",  //
    ".#.....####.....",  //
    ".#....####......",  //
    ".#...####.#.....",  //
    ".#...###..#.....",  //
    ".#..#.#...#.....",  //
    ".#..##....#.....",  //
    ".#.##.....#.....",  //
    ".#.#......#.....",  //
    ".########.#.....",  //
    ".........##.....",  //
};

const IconTemplate kIcons[] = {
    {IDI_PROGRAM, 16, 16, kIconRows},
};

}  // namespace

const ResourceModule QuillmoteResources = {
    kStrings,  static_cast<int>(sizeof kStrings / sizeof kStrings[0]),
    kDialogs,  1,
    kMenus,    1,
    kMenuBars, 1,
    kIcons,    1,
};
