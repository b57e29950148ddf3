#include "frame_log.h"

Q_LOGGING_CATEGORY(lcFrames, "nx480.link.frames", QtInfoMsg)

QString FormatFrame(const nx480::FrameEvent& event) {
  const char* arrow = event.direction == nx480::FrameDirection::Sent       ? "->"
                      : event.direction == nx480::FrameDirection::Received ? "<-"
                                                                           : "<~";
  QString verdict;
  if (event.direction == nx480::FrameDirection::Received) {
    verdict = event.verdict == nx480::LinkError::None
                  ? QStringLiteral(" good")
                  : QStringLiteral(" ") + nx480::LinkErrorText(event.verdict);
  } else if (event.direction == nx480::FrameDirection::Drained) {
    verdict = QStringLiteral(" drained");
  }
  const QByteArray bytes(reinterpret_cast<const char*>(event.bytes.data()),
                         static_cast<qsizetype>(event.bytes.size()));
  return QStringLiteral("%1 +%2 ms %3/%4%5 (%6 bytes): %7")
      .arg(QLatin1String(arrow))
      .arg(event.sinceRequest.count() / 1000.0, 0, 'f', 1)
      .arg(QLatin1String(event.transaction), QLatin1String(event.frame), verdict)
      .arg(event.bytes.size())
      .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()));
}

nx480::FrameTraceHook FrameLogHook() {
  return [](const nx480::FrameEvent& event) {
    if (lcFrames().isDebugEnabled()) qCDebug(lcFrames).noquote() << FormatFrame(event);
  };
}
