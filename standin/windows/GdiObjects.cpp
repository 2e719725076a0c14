#include "standin/windows/GdiObjects.h"

#include "standin/windows/NativeSurface.h"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <cstdint>
#include <map>
#include <mutex>

namespace {

struct Pen
{
    int nStyle = PS_SOLID;
    int nWidth = 1;
    COLORREF crColor = 0;
    int nSelections = 0;    // contexts that have it selected
};

struct Context
{
    HWND hWnd = nullptr;                        // GetWindowDC contexts
    std::shared_ptr<NativeSurface> pSurface;    // GetWindowDC contexts
    QImage *pImage = nullptr;                   // image contexts
    uintptr_t nPen = 0;
    POINT current{0, 0};
};

constexpr uintptr_t kStockBlackPen = 0xF000;

struct Table
{
    std::mutex mutex;
    uintptr_t nNext = 0x10000;  // handles are never reused
    std::map<uintptr_t, Context> contexts;
    std::map<uintptr_t, Pen> pens;

    Table() { pens[kStockBlackPen] = Pen{PS_SOLID, 1, RGB(0, 0, 0), 0}; }
};

Table &TheTable()
{
    static Table table;
    return table;
}

uintptr_t Id(const void *p) { return reinterpret_cast<uintptr_t>(p); }

HDC AddContext(Context &&context)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t nId = table.nNext++;
    context.nPen = kStockBlackPen;
    ++table.pens[kStockBlackPen].nSelections;
    table.contexts.emplace(nId, std::move(context));
    return reinterpret_cast<HDC>(nId);
}

bool RemoveContext(uintptr_t nId, HWND hWnd, bool bImage)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.contexts.find(nId);
    if (it == table.contexts.end())
        return false;
    const bool bIsImage = it->second.pImage != nullptr;
    if (bIsImage != bImage || (!bImage && it->second.hWnd != hWnd))
        return false;
    auto pen = table.pens.find(it->second.nPen);
    if (pen != table.pens.end())
        --pen->second.nSelections;
    table.contexts.erase(it);
    return true;
}

void DrawLine(QImage &image, const Pen &pen, const POINT &from, const POINT &to)
{
    if (pen.nStyle == PS_NULL || (from.x == to.x && from.y == to.y))
        return;
    QPen qpen(QColor(GetRValue(pen.crColor), GetGValue(pen.crColor), GetBValue(pen.crColor)));
    qpen.setWidth(pen.nWidth < 1 ? 1 : pen.nWidth);
    switch (pen.nStyle) {
    case PS_DASH: qpen.setStyle(Qt::DashLine); break;
    case PS_DOT: qpen.setStyle(Qt::DotLine); break;
    case PS_DASHDOT: qpen.setStyle(Qt::DashDotLine); break;
    case PS_DASHDOTDOT: qpen.setStyle(Qt::DashDotDotLine); break;
    default: qpen.setStyle(Qt::SolidLine); break;
    }
    // Wide pens end round, as a geometric pen does; a one-pixel line covers just its pixels.
    qpen.setCapStyle(pen.nWidth > 1 ? Qt::RoundCap : Qt::FlatCap);
    qpen.setJoinStyle(Qt::RoundJoin);
    QPainter painter(&image);
    painter.setPen(qpen);
    painter.drawLine(from.x, from.y, to.x, to.y);
}

} // namespace

HDC GdiObjects::CreateSurfaceDC(HWND hWnd, std::shared_ptr<NativeSurface> pSurface)
{
    if (!pSurface)
        return nullptr;
    Context context;
    context.hWnd = hWnd;
    context.pSurface = std::move(pSurface);
    return AddContext(std::move(context));
}

HDC GdiObjects::CreateImageDC(QImage *pImage)
{
    if (!pImage || pImage->isNull())
        return nullptr;
    Context context;
    context.pImage = pImage;
    return AddContext(std::move(context));
}

bool GdiObjects::DeleteImageDC(HDC hDC) { return RemoveContext(Id(hDC), nullptr, true); }

int GdiObjects::ReleaseDC(HWND hWnd, HDC hDC) { return RemoveContext(Id(hDC), hWnd, false) ? 1 : 0; }

HPEN GdiObjects::CreatePen(int nStyle, int nWidth, COLORREF crColor)
{
    if (nStyle < PS_SOLID || nStyle > PS_NULL || nWidth < 0)
        return nullptr;
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t nId = table.nNext++;
    table.pens[nId] = Pen{nStyle, nWidth, crColor & 0x00FFFFFFu, 0};
    return reinterpret_cast<HPEN>(nId);
}

HGDIOBJ GdiObjects::SelectObject(HDC hDC, HGDIOBJ hObject)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto context = table.contexts.find(Id(hDC));
    auto pen = table.pens.find(Id(hObject));
    if (context == table.contexts.end() || pen == table.pens.end())
        return nullptr;
    const uintptr_t nPrevious = context->second.nPen;
    auto previous = table.pens.find(nPrevious);
    if (previous != table.pens.end())
        --previous->second.nSelections;
    ++pen->second.nSelections;
    context->second.nPen = pen->first;
    return reinterpret_cast<HGDIOBJ>(nPrevious);
}

BOOL GdiObjects::DeleteObject(HGDIOBJ hObject)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uintptr_t nId = Id(hObject);
    if (nId == kStockBlackPen)
        return 1;   // stock objects are never deleted
    auto pen = table.pens.find(nId);
    if (pen == table.pens.end() || pen->second.nSelections > 0)
        return 0;
    table.pens.erase(pen);
    return 1;
}

BOOL GdiObjects::MoveToEx(HDC hDC, int x, int y, POINT *pPrevious)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto context = table.contexts.find(Id(hDC));
    if (context == table.contexts.end())
        return 0;
    if (pPrevious)
        *pPrevious = context->second.current;
    context->second.current = POINT{x, y};
    return 1;
}

BOOL GdiObjects::LineTo(HDC hDC, int x, int y)
{
    Pen pen;
    POINT from{0, 0};
    const POINT to{x, y};
    std::shared_ptr<NativeSurface> pSurface;
    QImage *pImage = nullptr;
    {
        Table &table = TheTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto context = table.contexts.find(Id(hDC));
        if (context == table.contexts.end())
            return 0;
        auto selected = table.pens.find(context->second.nPen);
        if (selected != table.pens.end())
            pen = selected->second;
        from = context->second.current;
        context->second.current = to;
        pSurface = context->second.pSurface;
        pImage = context->second.pImage;
    }
    if (pImage)
        DrawLine(*pImage, pen, from, to);
    else if (pSurface)
        pSurface->DrawOnShown([&](QImage &image) { DrawLine(image, pen, from, to); });
    return 1;
}

bool GdiObjects::PenOf(HGDIOBJ hObject, int &nStyle, int &nWidth, COLORREF &crColor)
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto pen = table.pens.find(Id(hObject));
    if (pen == table.pens.end())
        return false;
    nStyle = pen->second.nStyle;
    nWidth = pen->second.nWidth;
    crColor = pen->second.crColor;
    return true;
}

int GdiObjects::ContextCount()
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return static_cast<int>(table.contexts.size());
}

int GdiObjects::PenCount()
{
    Table &table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return static_cast<int>(table.pens.size()) - 1;
}

HPEN GdiObjects::StockBlackPen() { return reinterpret_cast<HPEN>(kStockBlackPen); }
