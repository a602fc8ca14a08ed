#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <mutex>

// Named version and system facts shown in the host's About view ("plugin_trvaxx" = "1.2.5.0").
// Entries keep the order of their first registration; setting a key again replaces its value.
// Thread-safe.
class CommonSystemInfo : public QObject {
    Q_OBJECT
public:
    static CommonSystemInfo& instance();

    void setInfo(const QString& key, const QString& value);
    QString getInfo(const QString& key) const;
    bool hasInfo(const QString& key) const;
    QList<QPair<QString, QString>> entries() const;

signals:
    void infoChanged(const QString& key, const QString& value);

private:
    CommonSystemInfo() = default;
    mutable std::mutex mutex;
    QList<QPair<QString, QString>> infos;
};
