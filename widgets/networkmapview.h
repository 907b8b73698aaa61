#pragma once

#include "network/networkmap.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QStaticText>
#include <QWidget>

#include <functional>
#include <optional>

// The network map drawn with QPainter: the own module on the left, every other node in the
// column of its hop count (those no current route reaches in a last column), the links between
// them; a stale link is drawn dashed (contradicted) or dotted (aged) and fades with its age. A
// node's tooltip is its history; a click on a node is reported.
class NetworkMapView : public QWidget
{
    Q_OBJECT

public:
    explicit NetworkMapView(QWidget *parent = nullptr);

    // The map to draw (not owned); refresh() after it changed.
    void setMap(const network::NetworkMap *map);
    void refresh();
    // The wall clock in ms since the epoch, for the links' age (tests set their own).
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {200, 120}; }
    // Where a node is drawn, and which node is at a point.
    std::optional<QPointF> nodeCentre(network::NodeId id) const;
    std::optional<network::NodeId> nodeAt(const QPointF &point) const;
    int nodeCount() const { return int(centres.size()); }

    // What the map knows of a node, in lines: how it was learned, when seen, its route and the
    // newest results.
    QString nodeHistory(network::NodeId id) const;
    // The whole map as a picture, white behind it.
    QImage picture() const;

signals:
    void nodeClicked(network::NodeId id);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void layOut();
    void draw(QPainter &painter, const QRect &area) const;

    const network::NetworkMap *networkMap = nullptr;
    std::function<qint64()> now;
    QHash<network::NodeId, QPointF> centres;
    mutable QHash<network::NodeId, QStaticText> labels;
    mutable QHash<quint64, QImage> sprites;
    QHash<network::NodeId, int> hops;
    QList<std::pair<int, QString>> columnTitles; // x and caption
    QSize extent;
};
