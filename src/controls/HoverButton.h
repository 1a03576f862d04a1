#pragma once

#include <QAbstractButton>
#include <QString>

// A flat colour button with its own hover look and a sunken press, used for
// the arm's motion buttons and for the colour swatches. Colours are Windows
// colour values (see WinColor.h). With an empty caption it is a plain swatch.
class HoverButton : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QString captiondown READ captiondown WRITE setCaptiondown)
    Q_PROPERTY(QString captionover READ captionover WRITE setCaptionover)
    Q_PROPERTY(quint32 backcolor READ backcolor WRITE setBackcolor)
    Q_PROPERTY(quint32 hoverbackcolor READ hoverbackcolor WRITE setHoverbackcolor)
    Q_PROPERTY(quint32 bordercolor READ bordercolor WRITE setBordercolor)
    Q_PROPERTY(quint32 forecolor READ forecolor WRITE setForecolor)
    Q_PROPERTY(quint32 hoverforecolor READ hoverforecolor WRITE setHoverforecolor)
    Q_PROPERTY(int index READ index WRITE setIndex)

public:
    static constexpr quint32 DefaultBackcolor = 14737632;      // 224, 224, 224
    static constexpr quint32 DefaultHoverbackcolor = 14270893; // 173, 193, 217
    static constexpr quint32 DefaultBordercolor = 0;
    static constexpr quint32 DefaultForecolor = 0;
    // Edges of the raised hover look and of the sunken press.
    static constexpr quint32 HoverShadowColor = 10769685; // 21, 85, 164

    explicit HoverButton(QWidget *parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString &text);
    QString captiondown() const { return m_captiondown; }
    void setCaptiondown(const QString &text);
    QString captionover() const { return m_captionover; }
    void setCaptionover(const QString &text);

    quint32 backcolor() const { return m_backcolor; }
    void setBackcolor(quint32 color);
    quint32 hoverbackcolor() const { return m_hoverbackcolor; }
    void setHoverbackcolor(quint32 color);
    quint32 bordercolor() const { return m_bordercolor; }
    void setBordercolor(quint32 color);
    quint32 forecolor() const { return m_forecolor; }
    void setForecolor(quint32 color);
    quint32 hoverforecolor() const { return m_hoverforecolor; }
    void setHoverforecolor(quint32 color);

    // Position in a control array; -1 for a button that is not part of one.
    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }

    bool isHovered() const { return m_hovered; }
    // What the button shows right now: the down, over or plain caption.
    QString currentCaption() const;
    quint32 currentBackcolor() const;
    quint32 currentForecolor() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void indexClicked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_caption;
    QString m_captiondown;
    QString m_captionover;
    quint32 m_backcolor = DefaultBackcolor;
    quint32 m_hoverbackcolor = DefaultHoverbackcolor;
    quint32 m_bordercolor = DefaultBordercolor;
    quint32 m_forecolor = DefaultForecolor;
    quint32 m_hoverforecolor = DefaultForecolor;
    int m_index = -1;
    bool m_hovered = false;
};
