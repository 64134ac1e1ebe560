#pragma once

// Each prints its figures, one per line; none asserts anything.
void LogLineFigures();
void UdpFloodFigures();
void TcpFloodFigures();
void StartUpFigures();
void ConversionFigures();
