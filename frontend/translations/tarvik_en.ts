<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>DialogChecks</name>
    <message>
        <location filename="../logic/dialogs.cpp" line="+24"/>
        <source>ファイル名に使用できない文字が含まれています !</source>
        <translation>The file name contains characters that cannot be used!</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>ファイル名が長すぎます。半角 %1 文字（全角 %2 文字）以内にして下さい</source>
        <translation>The file name is too long: use at most %1 single-byte characters (%2 double-byte characters).</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>コメント／メモに使用できない文字が含まれています</source>
        <translation>The comments contain characters that cannot be written to the result file.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>データフォルダ Tarvik_data が見つかりません
結果を書き込むことができません</source>
        <translation>The data folder Tarvik_data was not found.
The result cannot be written.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>チャネル %1 のカウント %2 が 0 ～ 999999 の範囲外のため処理できません</source>
        <translation>Channel %1 holds %2 counts, outside 0 to 999999: the spectrum cannot be processed.</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>%1 を起動できません
%2</source>
        <translation>%1 cannot be started.
%2</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>ファイルを選択して下さい</source>
        <translation>Please choose a file.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>ファイル名が入力されていません</source>
        <translation>Please enter the name of the result file.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ｘ線管電圧が入力されていません</source>
        <translation>Please enter the tube voltage.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>スペクトルデータの先頭行が入力されていません</source>
        <translation>Please enter the first line of the spectrum data.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>ファイル名に禁止文字が含まれています !</source>
        <translation>The file name contains a forbidden character ( \ / : * ? &lt; &gt; | )!</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Ｘ線管電圧には 0.5 ～ 999 kV の値を入力して下さい</source>
        <translation>Please enter a tube voltage from 0.5 to 999 kV.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>エネルギー幅 / チャネル には 0.001 ～ 99.999 keV の値を入力して下さい</source>
        <translation>Please enter an energy per channel from 0.001 to 99.999 keV.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>スペクトルデータの先頭行には 18 以上の値を入力して下さい
（先頭行より前に 17 行以上のヘッダーが必要です）</source>
        <translation>The first line of the spectrum data must be 18 or more
(the file needs at least 17 header lines before it).</translation>
    </message>
    <message>
        <location line="+45"/>
        <source>同名のファイルが既に存在します。上書きしますか？</source>
        <translation>A file of this name exists already. Replace it?</translation>
    </message>
    <message>
        <location line="+45"/>
        <source>目的のファイルをクリックして下さい</source>
        <translation>Please click the file you want.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>変換後のファイル名を入力して下さい</source>
        <translation>Please enter the name of the converted file.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>散乱角度を入力して下さい</source>
        <translation>Please enter the scattering angle.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>変換後のファイル名に禁止文字が含まれています !</source>
        <translation>The name of the converted file contains a forbidden character ( \ / : * ? &lt; &gt; | )!</translation>
    </message>
    <message>
        <location line="+59"/>
        <source> 名称を入力して下さい </source>
        <translation> Please enter the names </translation>
    </message>
</context>
<context>
    <name>DisplayLogic</name>
    <message>
        <location filename="../display/displaylogic.cpp" line="+66"/>
        <source> Ｘ線管電圧 = %1 [kV]</source>
        <translation> Tube voltage = %1 [kV]</translation>
    </message>
    <message>
        <location filename="../display/displaylogic.h" line="+53"/>
        <source>目的のファイル名をクリックして下さい</source>
        <translation>Please click the file you want.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>  このファイルは読めません  </source>
        <translation>  This file cannot be read  </translation>
    </message>
    <message>
        <location line="+1"/>
        <source>プリンターの準備はＯＫですか？</source>
        <translation>Is the printer ready?</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>エネルギー幅 / チャネル には 0 より大きい値を入力して下さい</source>
        <translation>Please enter an energy per channel above 0.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>エネルギー幅 / チャネル が 0 以下のため描画できません</source>
        <translation>The energy per channel is 0 or less: nothing can be drawn.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>表示するスペクトルがありません。
「グラフの描画」でスペクトルを加えて下さい</source>
        <translation>No spectrum is shown.
Add one with &quot;Add to graph&quot;.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>表示エネルギー範囲が正しくありません。
下限と上限に異なる値を入力して下さい</source>
        <translation>The energy range is not valid.
Please enter different values for its lower and upper end.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>表示エネルギー範囲が大きすぎます。
正しい範囲を入力して下さい</source>
        <translation>The energy range is too large.
Please enter a valid range.</translation>
    </message>
</context>
<context>
    <name>ExchangeFiles</name>
    <message>
        <location filename="../logic/exchange.cpp" line="+20"/>
        <source>%1に Shift_JIS で書けない文字が含まれています</source>
        <translation>%1 contains characters that cannot be written in Shift_JIS</translation>
    </message>
    <message>
        <location line="+50"/>
        <location line="+28"/>
        <source>ファイル名</source>
        <translation>The file name</translation>
    </message>
    <message>
        <location line="-27"/>
        <location line="+12"/>
        <source>コメント１</source>
        <translation>Comment 1</translation>
    </message>
    <message>
        <location line="-11"/>
        <location line="+13"/>
        <source>コメント２</source>
        <translation>Comment 2</translation>
    </message>
    <message>
        <location line="+31"/>
        <location filename="../logic/settings.cpp" line="+90"/>
        <source>%1 を書き込めません</source>
        <translation>%1 cannot be written</translation>
    </message>
    <message>
        <location filename="../logic/settings.cpp" line="-12"/>
        <source>施設名</source>
        <translation>The facility name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>測定器名</source>
        <translation>The analyser name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>検出器名</source>
        <translation>The detector name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>エネルギー幅</source>
        <translation>The energy per channel</translation>
    </message>
</context>
<context>
    <name>Form5</name>
    <message>
        <location filename="../display/form5.cpp" line="+259"/>
        <source>Ｘ線スペクトル表示</source>
        <translation>X-ray spectrum display</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>スペクトルデータファイル</source>
        <translation>Spectrum data files</translation>
    </message>
    <message>
        <location line="+19"/>
        <source>拡張子について</source>
        <translation>About extensions</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>分析器のスペクトル (.mca・.Spe・.Chn・N42 XML・テキストの列) を開いて描画します</source>
        <translation>Opens and draws an analyser&apos;s spectrum file (.mca, .Spe, .Chn, N42 XML, text columns)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>エネルギー幅 / チャネル</source>
        <translation>Energy per channel</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>描画色</source>
        <translation>Curve colour</translation>
    </message>
    <message>
        <location line="+10"/>
        <source> 黒</source>
        <translation>Black</translation>
    </message>
    <message>
        <location line="+1"/>
        <source> 青</source>
        <translation>Blue</translation>
    </message>
    <message>
        <location line="+1"/>
        <source> 緑</source>
        <translation>Green</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>暗シアン</source>
        <translation>Dark cyan</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>  赤</source>
        <translation>Red</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>マゼンタ</source>
        <translation>Magenta</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>グラフの描画</source>
        <translation>Add to graph</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>クリア</source>
        <translation>Clear</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>現在表示されているスペクトルデータを全てクリアします</source>
        <translation>Clears all spectra now shown</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>終&#x3000;了</source>
        <translation>Close</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>MENUへ戻ります</source>
        <translation>Back to the MENU</translation>
    </message>
    <message>
        <location line="+44"/>
        <source>チャネル&#x3000; エネルギー  &#x3000;カウント</source>
        <translation>Channel        Energy            Count</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>矢印キーでも可</source>
        <translation>or arrow keys</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>表示エネルギー範囲</source>
        <translation>Energy range</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>～</source>
        <translation>to</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>対数目盛</source>
        <translation>Log scale</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>カウント軸を対数目盛で表示します</source>
        <translation>Shows the count axis on a logarithmic scale</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>保 存</source>
        <translation>Save</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>グラフを画像 (PNG / SVG / PDF) に、スペクトルを CSV に保存します</source>
        <translation>Saves the graph as a picture (PNG / SVG / PDF) or the spectra as CSV</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>グラフを画像で保存 (PNG / SVG / PDF)…</source>
        <translation>Save graph as picture (PNG / SVG / PDF)…</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>スペクトルを CSV で保存…</source>
        <translation>Save spectra as CSV…</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>線質評価</source>
        <comment>the button, 76 pixels wide</comment>
        <translation>Quality</translation>
    </message>
    <message>
        <location line="+212"/>
        <source>他の形式のスペクトルを開く</source>
        <translation>Open a spectrum of another format</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>スペクトル (*.mca *.MCA *.spe *.Spe *.SPE *.chn *.Chn *.CHN *.n42 *.N42 *.xml *.XML *.csv *.CSV *.txt *.TXT *.tsv *.dat);;すべてのファイル (*)</source>
        <translation>Spectra (*.mca *.MCA *.spe *.Spe *.SPE *.chn *.Chn *.CHN *.n42 *.N42 *.xml *.XML *.csv *.CSV *.txt *.TXT *.tsv *.dat);;All files (*)</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>このファイルはスペクトルとして読めません。
%1</source>
        <translation>This file cannot be read as a spectrum.
%1</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>%1 (%2 チャネル)</source>
        <translation>%1 (%2 channels)</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>このファイルには %1 個のスペクトルがあります。描画するものを選んで下さい</source>
        <translation>This file holds %1 spectra. Please choose the one to draw.</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>このスペクトルのチャネルは表示のチャネル (%1 keV / チャネル、0 keV から) と一致しません:
%2

ファイルのエネルギー校正 (%3 keV / チャネル、最初のチャネルは %4 keV から) に従って、カウントを重なりの割合で %1 keV の 1024 チャネルに振り分けて描画します。範囲外のカウント %5 は描画されません。よろしいですか？</source>
        <translation>The channels of this spectrum are not the display&apos;s channels (%1 keV per channel from 0 keV):
%2

Its counts will be shared by overlap onto 1024 channels of %1 keV, following the file&apos;s energy calibration (%3 keV per channel, the first channel from %4 keV). Counts outside those channels (%5) are not drawn. Continue?</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>このスペクトルは %1 チャネルでエネルギー校正がありません。最初の 1024 チャネルだけを %2 keV / チャネルで描画します (残りのカウント %3 は描画されません)。よろしいですか？</source>
        <translation>This spectrum has %1 channels and no energy calibration. Only its first 1024 channels will be drawn, at %2 keV per channel (the other %3 counts are not drawn). Continue?</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>線質評価</source>
        <translation>Beam quality</translation>
    </message>
    <message>
        <location line="-279"/>
        <source>表示中のスペクトルの半価層・実効エネルギーなどを不確かさ付きで表示します</source>
        <translation>Shows the half-value layers, effective energy and other beam-quality figures of the spectra shown, with their uncertainties</translation>
    </message>
    <message>
        <location line="-151"/>
        <source>他の形式を開く…</source>
        <comment>the button, 124 pixels wide</comment>
        <translation>Other formats…</translation>
    </message>
    <message>
        <location line="+159"/>
        <source>再描画</source>
        <translation>Redraw</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>印 刷</source>
        <translation>Print</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>モノクロ印刷</source>
        <translation>Prints in black and white</translation>
    </message>
    <message>
        <location line="+167"/>
        <source>グラフを画像で保存</source>
        <translation>Save graph as picture</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>PNG 画像 (*.png);;SVG 画像 (*.svg);;PDF (*.pdf)</source>
        <translation>PNG image (*.png);;SVG image (*.svg);;PDF (*.pdf)</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>画像の種類はファイル名の拡張子 .png、.svg、.pdf のいずれかで指定して下さい</source>
        <translation>Please give the kind of picture by the file name&apos;s extension: .png, .svg or .pdf.</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>スペクトルを CSV で保存</source>
        <translation>Save spectra as CSV</translation>
    </message>
    <message>
        <location line="+86"/>
        <source>各値の ± は計数の統計 (ポアソン分布) による標準不確かさです。</source>
        <translation>Each ± is the standard uncertainty from the counting statistics (Poisson).</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>※ 補正前の測定スペクトル (.csv) の値です（Stripping 補正されていません）</source>
        <translation>※ Figures of a measured spectrum (.csv) that is not stripping-corrected.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>コピー</source>
        <translation>Copy</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>表全体をタブ区切りのテキストとしてコピーします（表計算ソフトに貼り付けられます）</source>
        <translation>Copies the whole table as tab-separated text, to paste into a spreadsheet</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>CSV で保存…</source>
        <translation>Save as CSV…</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>表を CSV ファイル (UTF-8) に保存します</source>
        <translation>Saves the table as a CSV file (UTF-8)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>単位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <location line="+41"/>
        <source>線質評価を CSV で保存</source>
        <translation>Save beam quality as CSV</translation>
    </message>
</context>
<context>
    <name>QualityTable</name>
    <message>
        <location filename="../display/qualityreport.cpp" line="+29"/>
        <source>総光子数</source>
        <translation>Total photons</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>平均エネルギー</source>
        <translation>Mean energy</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>空気カーマ平均エネルギー</source>
        <translation>Air-kerma mean energy</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>第1半価層 (Al)</source>
        <translation>First half-value layer (Al)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>第2半価層 (Al)</source>
        <translation>Second half-value layer (Al)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>第1半価層 (Cu)</source>
        <translation>First half-value layer (Cu)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>第2半価層 (Cu)</source>
        <translation>Second half-value layer (Cu)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>均等度 (Al)</source>
        <translation>Homogeneity coefficient (Al)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>均等度 (Cu)</source>
        <translation>Homogeneity coefficient (Cu)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>実効エネルギー (Al)</source>
        <translation>Effective energy (Al)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>最高エネルギー（管電圧推定）</source>
        <translation>End point (tube voltage estimate)</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Stripping 補正済み (.mca1)</source>
        <translation>Stripping-corrected (.mca1)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>一次線スペクトル (.mca2)</source>
        <translation>Primary spectrum (.mca2)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>※ 補正前の測定スペクトル (.csv)</source>
        <translation>※ Measured, not corrected (.csv)</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>項目</source>
        <translation>Figure</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>単位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>標準不確かさ</source>
        <translation>Standard uncertainty</translation>
    </message>
    <message>
        <location line="+43"/>
        <source>スペクトル</source>
        <translation>Spectrum</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>エネルギー幅 / チャネル</source>
        <translation>Energy per channel</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>パイルアップの割合</source>
        <translation>Pile-up share</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>不感時間の割合</source>
        <translation>Dead-time fraction</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>備考</source>
        <translation>Remarks</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>計算できません: %1</source>
        <translation>Cannot be computed: %1</translation>
    </message>
</context>
<context>
    <name>SettingsFile</name>
    <message>
        <location filename="../logic/language.cpp" line="+74"/>
        <source>%1 を書き込めません</source>
        <translation>%1 cannot be written</translation>
    </message>
    <message>
        <location filename="../logic/settings.cpp" line="-55"/>
        <source>%1 を読めませんでした：
</source>
        <translation>%1 could not be read:
</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>同じ名前のフォルダーがあります。</source>
        <translation>A folder has this name.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>通常のファイルではありません。</source>
        <translation>It is not a regular file.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>ファイルを開けません。</source>
        <translation>The file cannot be opened.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>ファイルが大きすぎます（設定は 4 行です）。</source>
        <translation>The file is too large (the settings are 4 lines).</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>施設名</source>
        <translation>the facility name</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>測定器名</source>
        <translation>the analyser name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>検出器名</source>
        <translation>the detector name</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>エネルギー幅</source>
        <translation>the energy per channel</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>ファイルが空です。</source>
        <translation>The file is empty.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>ファイルが途中で終わっています（%1 行目の%2がありません）。</source>
        <translation>The file ends too early (line %1, %2, is missing).</translation>
    </message>
</context>
<context>
    <name>SpectrumFiles</name>
    <message>
        <location filename="../logic/spectrumfiles.cpp" line="+18"/>
        <source>データファイルを開けません</source>
        <translation>The data file cannot be opened</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>データファイルが途中で終わっています（チャネル %1 以降のデータがありません）</source>
        <translation>The data file ends too early (no data from channel %1 on)</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>データファイルがスペクトルデータの先頭行より前で終わっています</source>
        <translation>The data file ends before the first line of the spectrum data</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>データファイルの先頭部分（コメント、管電圧、エネルギー幅）が欠けています</source>
        <translation>The start of the data file (comments, tube voltage, energy per channel) is incomplete</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>データファイルのヘッダー（22 行）が途中で終わっています</source>
        <translation>The header of the data file (22 lines) ends too early</translation>
    </message>
</context>
<context>
    <name>tarvik::BeamDiagram</name>
    <message>
        <location filename="../ui/pictures.cpp" line="+139"/>
        <source>X線管</source>
        <translation>X-ray tube</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>寝台</source>
        <translation>Couch</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>線束</source>
        <translation>Beam</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>検出器</source>
        <translation>Detector</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>散乱体（線束中心）</source>
        <translation>Scatterer (beam centre)</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>散乱体（体軸方向にずらす）</source>
        <translation>Scatterer (shifted axially)</translation>
    </message>
    <message>
        <location line="+45"/>
        <source>体軸方向</source>
        <translation>Body axis</translation>
    </message>
</context>
<context>
    <name>tarvik::CharacterizeWindow</name>
    <message>
        <location filename="../ui/characterizewindow.cpp" line="+90"/>
        <source>検出器の特性評価</source>
        <translation>Detector characterization</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>校正用線源のスペクトルから、検出器のエネルギー校正（ゲインとオフセット）、分解能と電荷輸送（電子と正孔の μτ）を求め、この検出器用の RES を作ります。</source>
        <translation>From spectra of calibration sources this finds the detector&apos;s energy calibration (gain and offset), its resolution and its charge transport (μτ of electrons and holes), and makes a RES folder for this detector.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>核種</source>
        <translation>Nuclide</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>ファイルを追加…</source>
        <translation>Add files…</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>選んだ行を外す</source>
        <translation>Remove selected rows</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>エネルギー幅 / チャネル（公称）</source>
        <translation>Energy per channel (nominal)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>keV</source>
        <translation>keV</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+138"/>
        <source>スペクトルデータの先頭行</source>
        <translation>First line of the spectrum data</translation>
    </message>
    <message>
        <location line="-135"/>
        <location line="+137"/>
        <source>バイアス電圧</source>
        <translation>Bias voltage</translation>
    </message>
    <message>
        <location line="-135"/>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+136"/>
        <source>結晶の厚さ</source>
        <translation>Crystal thickness</translation>
    </message>
    <message>
        <location line="-134"/>
        <source>mm</source>
        <translation>mm</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+135"/>
        <source>Be 窓の厚さ</source>
        <translation>Be window thickness</translation>
    </message>
    <message>
        <location line="-133"/>
        <source>µm</source>
        <translation>µm</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>（構造の値：合わせ込みません）</source>
        <translation>(construction values: not fitted)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>特性評価 GO</source>
        <translation>Characterize</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>線源のファイルを追加し、それぞれの核種を選んでください。</source>
        <translation>Add the source files and choose the nuclide of each.</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>この結果を RES に設定…</source>
        <translation>Use this result as RES…</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>作業フォルダの RES をこの結果で置き換えます。今の RES は RES.bak-日付 として残します。</source>
        <translation>Replaces the working folder&apos;s RES with this result. The present RES is kept as RES.bak-date.</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>求めた値</source>
        <translation>Fitted values</translation>
    </message>
    <message>
        <location line="+50"/>
        <source>測定スペクトル (*.csv);;分析器のスペクトルファイル (*.mca *.Spe *.spe *.Chn *.chn *.n42 *.xml *.txt)</source>
        <translation>Measured spectra (*.csv);;Analysers' spectrum files (*.mca *.Spe *.spe *.Chn *.chn *.n42 *.xml *.txt)</translation>
    </message>
    <message>
        <location line="-143"/>
        <location line="+142"/>
        <source>線源のスペクトルファイル</source>
        <translation>Spectrum files of the sources</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>線源のスペクトルファイルを追加してください。</source>
        <translation>Add the spectrum files of the sources.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>%1 に正しい数値を入れてください。</source>
        <translation>Enter a valid number for %1.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>エネルギー幅 / チャネル</source>
        <translation>Energy per channel</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>%1 には %2 チャネルあります。特性評価には分析器の 1024 チャネルのスペクトルが必要です。</source>
        <translation>%1 has %2 channels. The characterization needs the analyser's spectrum of 1024 channels.</translation>
    </message>
    <message>
        <location line="+42"/>
        <source>特性評価を始めます…</source>
        <translation>Starting the characterization…</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>中止しています…</source>
        <translation>Stopping…</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>中止しました。何も書いていません。</source>
        <translation>Stopped. Nothing was written.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>特性評価できませんでした。何も書いていません。</source>
        <translation>The characterization failed. Nothing was written.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>特性評価できませんでした:
%1</source>
        <translation>The characterization failed:
%1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>結果を %1 に書きました。</source>
        <translation>The result was written to %1.</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>作業フォルダの RES をこの結果で置き換えますか？
今の RES は RES.bak-日付 として残します。</source>
        <translation>Replace the working folder&apos;s RES with this result?
The present RES is kept as RES.bak-date.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>RES に設定しました。</source>
        <translation>RES now holds this result.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>RES に設定しました。以前の RES は %1 に残しました。</source>
        <translation>RES now holds this result. The earlier RES is kept as %1.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>RES に設定できませんでした:
%1</source>
        <translation>RES could not be replaced:
%1</translation>
    </message>
</context>
<context>
    <name>tarvik::FileChooser</name>
    <message>
        <location filename="../ui/filechooser.cpp" line="+32"/>
        <source>ダブルクリックでフォルダを開く</source>
        <translation>Double-click to open a folder</translation>
    </message>
</context>
<context>
    <name>tarvik::Form1</name>
    <message>
        <location filename="../ui/form1.cpp" line="+34"/>
        <source>&#x3000;施設名をダブルクリックすると変更できます&#x3000;</source>
        <translation> Double-click the facility name to change it </translation>
    </message>
    <message>
        <location line="+2"/>
        <source>実測X線スペクトルデータ処理</source>
        <translation>Processing of measured X-ray spectra</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>施設名</source>
        <translation>Facility name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&#x3000;ダブルクリックで変更可&#x3000;</source>
        <translation> Double-click to change </translation>
    </message>
    <message>
        <location line="+5"/>
        <source>測定器</source>
        <translation>Analyser</translation>
    </message>
    <message>
        <location line="+2"/>
        <location line="+3"/>
        <source>&#x3000;ダブルクリックで変更&#x3000;</source>
        <translation> Double-click to change </translation>
    </message>
    <message>
        <location line="-2"/>
        <source>検出器</source>
        <translation>Detector</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>（1024 channnel 設定）</source>
        <translation>(1024 channels)</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Stripping 補正</source>
        <translation>Stripping correction</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>散乱線 → 一次線スペクトル 変換</source>
        <translation>Scattered → primary spectrum conversion</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>スペクトル表示</source>
        <translation>Spectrum display</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>終  了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>測定データを補正せずに csv 形式で保存し、</source>
        <translation>Save the measured data uncorrected as .csv</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Tarvik_dataフォルダにコピーしておいて下さい。</source>
        <translation>and copy them into the Tarvik_data folder.</translation>
    </message>
    <message>
        <location line="+80"/>
        <source>設定を入力して OK を押して下さい。</source>
        <translation>Please enter the settings and press OK.</translation>
    </message>
    <message>
        <location line="+44"/>
        <source>スペクトル表示はこの版では使用できません</source>
        <translation>The spectrum display is not part of this build.</translation>
    </message>
    <message>
        <location filename="../ui/main.cpp" line="+63"/>
        <source>データフォルダ Tarvik_data を作成できません</source>
        <translation>The data folder Tarvik_data cannot be created</translation>
    </message>
</context>
<context>
    <name>tarvik::Form2</name>
    <message>
        <location filename="../ui/infowindows.cpp" line="+15"/>
        <source>拡張子</source>
        <translation>File extensions</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>拡張子について</source>
        <translation>About the file extensions</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>csv : 何も補正されていない測定データ</source>
        <translation>csv : measured data, not corrected</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>mca1 : Storipping 補正されたデータ</source>
        <translation>mca1 : stripping-corrected data</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>mca2 : Stripping 補正後、</source>
        <translation>mca2 : stripping-corrected, then</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>散乱線 → 一次線スペクトル変換を</source>
        <translation>converted from the scattered</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>行なったデータ</source>
        <translation>to the primary spectrum</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>tarvik::Form3</name>
    <message>
        <location filename="../ui/form3.cpp" line="+26"/>
        <source>Scatter →Primary</source>
        <translation>Scatter → primary</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Scatter → Primary 変換</source>
        <translation>Scatter → primary conversion</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>データファイルを選択</source>
        <translation>Choose the data file</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>散乱体</source>
        <translation>Scatterer</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>高精度変換 (unfold)</source>
        <translation>Accurate conversion (unfold)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>散乱体中のコヒーレント散乱、コンプトン線のドップラー広がりと減弱を模擬し、一次線スペクトルを逆に解いて（アンフォールディング）求めます。</source>
        <translation>Models coherent scattering, the Doppler broadening of the Compton line and the attenuation in the scatterer, and unfolds the primary spectrum from the measured one.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>変換 Go</source>
        <translation>Convert – Go</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>散乱角度について</source>
        <translation>About the scattering angle</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>このデータのコメント／メモ（書き換え可）</source>
        <translation>Comments / notes of this spectrum (editable)</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>このデータのＸ線管電圧</source>
        <translation>Tube voltage of this spectrum</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>散乱体自身による</source>
        <translation>Self-attenuation length </translation>
    </message>
    <message>
        <location line="+1"/>
        <source>自己減弱長（約）</source>
        <translation>in the scatterer (approx.)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>散乱角度</source>
        <translation>Scattering angle</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>度</source>
        <translation>°</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>変換後のファイル名（拡張子は書かない）</source>
        <translation>Name of the converted file (without extension)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>データファイルの内容</source>
        <translation>Contents of the data file</translation>
    </message>
</context>
<context>
    <name>tarvik::Form4</name>
    <message>
        <location filename="../ui/form4.cpp" line="+28"/>
        <source>Stripping 補正</source>
        <translation>Stripping correction</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>補正するスペクトルデータファイルを選択</source>
        <translation>Choose the spectrum file to correct</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>高精度補正 (unfold)</source>
        <translation>Accurate correction (unfold)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>チャネルごとのストリッピングではなく、電荷損失と分解能を含む検出器の応答全体を逆に解いて（アンフォールディング）補正します。</source>
        <translation>Instead of the channel-by-channel stripping, unfolds the spectrum with the detector&apos;s whole response, charge loss and resolution included.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>補正 GO</source>
        <translation>Correct – GO</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>このデータの</source>
        <translation>This spectrum&apos;s</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Ｘ線管電圧</source>
        <translation>tube voltage</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>エネルギー幅 / チャネル</source>
        <translation>Energy per channel</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>スペクトルデータの先頭行</source>
        <translation>First line of the spectrum data</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>補正後のファイル名（拡張子は書かない）</source>
        <translation>Name of the corrected file (without extension)</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>コメント／メモ</source>
        <translation>Comments / notes</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>１</source>
        <translation>1</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>２</source>
        <translation>2</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>行</source>
        <translation>Line</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>データファイルの内容</source>
        <translation>Contents of the data file</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>検出器の特性評価…</source>
        <translation>Characterize…</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>校正用線源のスペクトルから検出器の特性（エネルギー校正、分解能、μτ）を求め、この検出器用の応答データ（RES）を作ります。</source>
        <translation>Finds the detector&apos;s properties (energy calibration, resolution, μτ) from spectra of calibration sources and makes the response data (RES) for this detector.</translation>
    </message>
</context>
<context>
    <name>tarvik::Form6</name>
    <message>
        <location filename="../ui/infowindows.cpp" line="+13"/>
        <source>散乱角度について</source>
        <translation>About the scattering angle</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>例えば、上図に示す MDCT のように、散乱体を線束中心に置いた場合と</source>
        <translation>In multi-detector CT, for example, as drawn above, a detector placed as shown</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>線束内で体軸方向にずらしておいた場合で、図のように設置した検出器に</source>
        <translation>receives the scattered radiation at different angles from a scatterer at the</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>入射する散乱線の散乱角度は異なる。&#x3000;実測した散乱線スペクトルから</source>
        <translation>beam centre and from one shifted along the body axis within the beam.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>散乱体へ入射する一次線スペクトルへ変換する際には、正確な散乱角度に</source>
        <translation>Converting a measured scattered spectrum into the primary spectrum that struck</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>基づいて計算処理を行う必要がある。</source>
        <translation>the scatterer needs a calculation based on the exact scattering angle.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>tarvik::Form7</name>
    <message>
        <location filename="../ui/form1.cpp" line="+33"/>
        <source>施設名称</source>
        <translation>Facility settings</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>施 設 名</source>
        <translation>Facility</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>測定器名</source>
        <translation>Analyser</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>検出器名</source>
        <translation>Detector</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>1024 channnel 固定</source>
        <translation>1024 channels (fixed)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>1 チャネル当たりのエネルギー幅</source>
        <translation>Energy per channel</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>ウィンドウの表示言語（次回の起動から）。
起動時に Tarvik_CdTe --lang en / ja でも指定できます。</source>
        <translation>Language of the windows, from the next start.
For one run: Tarvik_CdTe --lang en (or ja).</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>表示言語</source>
        <translation>Language</translation>
    </message>
    <message>
        <location line="+86"/>
        <source>ゲストユーザー</source>
        <translation>Guest user</translation>
    </message>
</context>
<context>
    <name>tarvik::GraphExport</name>
    <message>
        <location filename="../display/graphexport.cpp" line="+47"/>
        <source>ファイル「%1」を書けませんでした</source>
        <translation>The file &quot;%1&quot; could not be written</translation>
    </message>
</context>
<context>
    <name>tarvik::GraphPrint</name>
    <message>
        <location filename="../display/graphprint.cpp" line="+68"/>
        <source>プリンター「%1」で印刷できませんでした</source>
        <translation>Printing on the printer &quot;%1&quot; failed</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>使用できるプリンターが設定されていません。
印刷プレビューで確認するか、PDF ファイルに保存できます。</source>
        <translation>No usable printer is set up.
You can look at the page in a print preview or save it as a PDF file.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>印刷プレビュー</source>
        <translation>Print preview</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>PDF に保存</source>
        <translation>Save as PDF</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>PDF ファイル「%1」を書けませんでした</source>
        <translation>The PDF file &quot;%1&quot; could not be written</translation>
    </message>
</context>
<context>
    <name>tarvik::ProgramDialog</name>
    <message>
        <location filename="../ui/dialoglayout.cpp" line="+148"/>
        <source>データフォルダ Tarvik_data が見つかりません</source>
        <translation>The data folder Tarvik_data was not found</translation>
    </message>
</context>
<context>
    <name>tarvik::TerminalLauncher</name>
    <message>
        <location filename="../ui/terminallauncher.cpp" line="+29"/>
        <source>作業フォルダ %1 に %2 がありません</source>
        <translation>The working folder %1 holds no %2</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>端末ウィンドウ（x-terminal-emulator、xterm）を起動できません</source>
        <translation>No terminal window (x-terminal-emulator, xterm) can be started</translation>
    </message>
</context>
<context>
    <name>tarvik::ui</name>
    <message>
        <location filename="../ui/dialoglayout.cpp" line="-90"/>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location line="+1"/>
        <source> やーめた </source>
        <translation> Never mind </translation>
    </message>
</context>
</TS>
