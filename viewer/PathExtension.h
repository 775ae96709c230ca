// The extension of a container path, the one rule that serving and indexing share.
#pragma once

#include <QString>
#include <QStringView>

// The extension of the path's last segment, lower-cased, with a ";" parameter part left out
// ("/a/b.HTM;x=1" -> "htm"); empty when there is none.
QString pathExtension(QStringView path);
