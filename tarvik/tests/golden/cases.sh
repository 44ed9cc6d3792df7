# The command line's transcript: each line below is run by /bin/sh in one
# working folder (RES/ linked to the shipped tables, Carbon.dat, PMMA.dat and
# their profiles, Tarvik_data/ with both demo spectra), one after the other,
# with `tarvik` the program under test.  expected.txt holds the status,
# standard output and standard error of each line as the command line wrote
# them; the test compares them byte for byte.  A line starting with "#" is a
# comment, an empty line is skipped.
#
# To write expected.txt anew after a deliberate change:
#   TARVIK_GOLDEN_UPDATE=1 build/tarvik/tarvik_tests --gtest_filter='TarvikGolden*'
# and read the diff before committing it.

# ---- the program itself
tarvik
tarvik --help
tarvik -h
tarvik help
tarvik --help strip
tarvik bogus
tarvik --bogus
tarvik -x
tarvik ''
tarvik STRIP --help

# ---- init
tarvik init --help
tarvik init -h
tarvik init
tarvik init a b
tarvik init --force
tarvik init --bogus d
tarvik init --force=yes d
tarvik init --help --bogus
tarvik init --bogus --help
tarvik init -- --help
tarvik init Carbon.dat
tarvik init fresh
ls fresh fresh/Tarvik_data
tarvik init fresh
tarvik init --force fresh
tarvik init fresh --force
rm -r fresh ./--help

# ---- strip: refusals
tarvik strip --help
tarvik strip -h
tarvik strip
tarvik strip --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik strip --kv 80 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik strip --kev-per-channel 0.1 --kv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir
tarvik strip --bogus --kv
tarvik strip --kv --help
tarvik strip --kv 80 --kev-per-channel 0.1 --help
tarvik strip --help --kv 80
tarvik strip --help --bogus
tarvik strip --kv eighty --kev-per-channel 0.1 x.csv
tarvik strip --kv '' --kev-per-channel 0.1 x.csv
tarvik strip --kv= --kev-per-channel 0.1 x.csv
tarvik strip --kv nan --kev-per-channel 0.1 x.csv
tarvik strip --kv inf --kev-per-channel 0.1 x.csv
tarvik strip --kv 1e999 --kev-per-channel 0.1 x.csv
tarvik strip --kv 80x --kev-per-channel 0.1 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1. x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --first-line abc x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --method fast x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --method Unfold x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --comment a --comment b --comment c x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir nowhere x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --frobnicate x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 -x x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 -5 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 ---kv x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --force=1 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --jobs 0 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --jobs 2.5 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --jobs abc x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --jobs 257 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1
tarvik strip --kv 80 --kev-per-channel 0.1 --
tarvik strip -- --kv 80 --kev-per-channel 0.1 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir nowhere --method fast x.csv
tarvik strip --kv eighty --kev-per-channel 0.1 --method fast x.csv
tarvik strip --kv 80 --kev-per-channel 0 x.csv
tarvik strip --kv -5 --kev-per-channel 0.1 x.csv

# ---- strip: work
tarvik strip --kv 80 --kev-per-channel 0.1 x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 -- -weird.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --jobs 1 Tarvik_data/W80kV_2.5mmAl_direct.csv missing.csv
head -c 600 Tarvik_data/W80kV_2.5mmAl_direct.mca1; echo; md5sum Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik strip --kv 80 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik strip --kv=70 --kv 80 --kev-per-channel=0.1 --force Tarvik_data/W80kV_2.5mmAl_direct.csv
md5sum Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik strip Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1 --kv 80 --force --comment 'first line' --comment 'second, line' --first-line 32 --jobs 2
head -n 4 Tarvik_data/W80kV_2.5mmAl_direct.mca1
mkdir out
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir out Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir out --force Tarvik_data/W80kV_2.5mmAl_direct.csv ./Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir=out --force --comment '' Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv
head -n 3 out/W80kV_2.5mmAl_PMMA90deg.mca1
mkdir u
tarvik strip --method unfold --kv 80 --kev-per-channel 0.1 --outdir u Tarvik_data/W80kV_2.5mmAl_direct.csv
md5sum u/W80kV_2.5mmAl_direct.mca1
tarvik strip --kv 80 --kev-per-channel 0.1 --first-line 5 --outdir u Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --force=true x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --force= x.csv
tarvik strip --help=x
tarvik strip -hx
tarvik strip --kv 80 --kev-per-channel 0.1 -5x x.csv
tarvik strip --comment --kv --kv 80 --kev-per-channel 0.1 -- --kv= x.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --outdir u --comment '[a,b]' --comment '{}' Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv; head -n 2 u/W80kV_2.5mmAl_PMMA90deg.mca1; rm u/W80kV_2.5mmAl_PMMA90deg.mca1
tarvik strip --kv 80 --kev-per-channel=0.1 --outdir u --comment= --comment=a=b Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv; head -n 2 u/W80kV_2.5mmAl_PMMA90deg.mca1; rm u/W80kV_2.5mmAl_PMMA90deg.mca1
cp Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv ./-dash.csv; tarvik strip --kv 80 --kev-per-channel 0.1 --outdir u -- -dash.csv; ls u

# ---- convert
tarvik convert --help
tarvik convert
tarvik convert --angle 90 x.mca1
tarvik convert --angle 90 --length-mm 10 x.mca1
tarvik convert --length-mm 10 --scatterer PMMA x.mca1
tarvik convert --angle ninety --length-mm 10 x.mca1
tarvik convert --angle 90 --length-mm ten --scatterer PMMA x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer Wood.dat x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA --method strip x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA --outdir nowhere x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA --jobs 2 x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA --comment 1 --comment 2 --comment 3 x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA x.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA out/W80kV_2.5mmAl_PMMA90deg.mca1
md5sum out/W80kV_2.5mmAl_PMMA90deg.mca2
tarvik convert --angle 90 --length-mm 10 --scatterer pmma out/W80kV_2.5mmAl_PMMA90deg.mca1
tarvik convert --angle 90 --length-mm 10 --scatterer PMMA.dat --force --comment 'mine' out/W80kV_2.5mmAl_PMMA90deg.mca1
head -n 3 out/W80kV_2.5mmAl_PMMA90deg.mca2
tarvik convert --angle 120 --length-mm 0 --scatterer Carbon --outdir u out/W80kV_2.5mmAl_PMMA90deg.mca1
md5sum u/W80kV_2.5mmAl_PMMA90deg.mca2
tarvik convert --method unfold --angle 90 --length-mm 10 --scatterer PMMA --outdir u --force out/W80kV_2.5mmAl_PMMA90deg.mca1 missing.mca1
md5sum u/W80kV_2.5mmAl_PMMA90deg.mca2

# ---- quality: refusals
tarvik quality --help
tarvik quality
tarvik quality --json --csv x.mca1
tarvik quality --json --json --csv x.mca1
tarvik quality --csv=x x.mca1
tarvik quality --kev-per-channel 0 x.csv
tarvik quality --kev-per-channel -1 x.csv
tarvik quality --kev-per-channel abc x.csv
tarvik quality --first-line abc x.csv
tarvik quality --resamples -1 x.csv
tarvik quality --resamples 2.5 x.csv
tarvik quality --resamples 100001 x.csv
tarvik quality --resamples abc x.csv
tarvik quality --from-kev -1 x.csv
tarvik quality --from-kev abc x.csv
tarvik quality --seed abc x.csv
tarvik quality --kv abc x.csv
tarvik quality --angle 90 x.csv
tarvik quality --kv 80 --angle 90 x.csv
tarvik quality --kv 80 --angle 90 --length-mm 10 x.csv
tarvik quality --kv 80 --angle x --length-mm 10 --scatterer PMMA x.csv
tarvik quality --kv 80 --angle 90 --length-mm 10 --scatterer Wood.dat x.csv
tarvik quality --resamples 0
tarvik quality --seed
tarvik quality -5 x.mca1
tarvik quality --json=1 x.mca1
tarvik quality --resamples=0 --json -- --json

# ---- quality: figures
tarvik quality --resamples 0 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik quality --resamples 20 --seed 3 Tarvik_data/W80kV_2.5mmAl_direct.mca1 out/W80kV_2.5mmAl_PMMA90deg.mca2
tarvik quality --json --resamples 20 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik quality --csv --resamples 20 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1 missing.csv
tarvik quality --json --resamples 0 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --resamples 0 --kev-per-channel 0.2 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik quality --json --resamples 10 --kv 80 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --resamples 10 --kv 80 --kev-per-channel 0.1 --from-kev 15 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --csv --resamples 5 --kv 80 --kev-per-channel 0.1 --angle 90 --length-mm 10 --scatterer PMMA Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv
tarvik quality --json --resamples 0 --from-kev 200 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik quality --json --resamples 0 --kev-per-channel 0.1 --first-line 40 Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --method unfold Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --kv 80 --kev-per-channel 0.1 --method fast Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --json --resamples 3 --kv 80 --kev-per-channel 0.1 --method unfold Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1
cp Tarvik_data/W80kV_2.5mmAl_direct.mca1 'a"b\c.mca1'; tarvik quality --json --resamples 0 'a"b\c.mca1'; tarvik quality --csv --resamples 0 'a"b\c.mca1'; rm 'a"b\c.mca1'
cp Tarvik_data/W80kV_2.5mmAl_direct.mca1 "$(printf 'sp\tk\203X.mca1')"; tarvik quality --json --resamples 0 "$(printf 'sp\tk\203X.mca1')"; rm "$(printf 'sp\tk\203X.mca1')"
cp Tarvik_data/W80kV_2.5mmAl_direct.mca1 'スペクトル.mca1'; tarvik quality --json --resamples 0 'スペクトル.mca1'; rm 'スペクトル.mca1'

# ---- export
tarvik export --help
tarvik export
tarvik export Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik export --csv table.csv
tarvik export --csv table.csv --kev-per-channel abc Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik export --csv
tarvik export --csv table.csv --json Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik export --csv Carbon.dat Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik export --csv table.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1 out/W80kV_2.5mmAl_PMMA90deg.mca2
head -n 5 table.csv; md5sum table.csv
tarvik export --csv table.csv --force --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1 missing.csv
head -n 3 table.csv; md5sum table.csv
tarvik export --csv table2.csv Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik export --csv table2.csv --kev-per-channel 0.2 Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1
ls table2.csv

# ---- plot
tarvik plot --help
tarvik plot
tarvik plot Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.gif Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png
tarvik plot --out a.png --range 5 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --range 10
tarvik plot --out a.png --range 90 10 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --range -1 10 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --range a b Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --kev-per-channel x Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --range '' '' Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --range 1 --log Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --log=1 Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out Carbon.dat.png --out Carbon.dat Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.png --log --range 10 90 Tarvik_data/W80kV_2.5mmAl_direct.mca1 missing.mca1
tarvik plot --out a.svg --range 10 90 --range 20 30 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv
ls a.png a.svg
tarvik plot --out a.png Tarvik_data/W80kV_2.5mmAl_direct.mca1
tarvik plot --out a.pdf --kev-per-channel 0.2 Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1

# ---- import (and analysers' files in the other commands)
tarvik import --help
tarvik import
tarvik import --format xls x.mca
tarvik import --offset-kev 1 x.mca
tarvik import --rebin-kev-per-channel 0 x.mca
tarvik import --outdir nowhere x.mca
tarvik import Tarvik_data/W80kV_2.5mmAl_direct.csv Tarvik_data/W80kV_2.5mmAl_direct.mca1 missing.mca
printf '<<PMCA SPECTRUM>>\r\nLIVE_TIME - 9\r\nREAL_TIME - 10\r\n<<DATA>>\r\n5\r\n-1\r\n<<END>>\r\n' > bad.mca; tarvik import bad.mca; rm bad.mca
printf 'channel,count\n0,5\n1,6\n' > cols.csv; tarvik import cols.csv; tarvik import --outdir Tarvik_data cols.csv; rm cols.csv
printf 'channel,count\n0,5\n1,6\n' > cols.txt; tarvik quality --resamples 0 --json cols.txt; rm cols.txt
tarvik strip --kv 80 --offset-kev 1 --kev-per-channel 0.1 Tarvik_data/W80kV_2.5mmAl_direct.csv

# ---- characterize, and --res of strip and quality
tarvik characterize --help
tarvik characterize
tarvik characterize --source 241Am
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv extra.csv --kev-per-channel 0.1 --out c
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0 --out c
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1 --out c --bias -5
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1 --out c --res nowhere
tarvik characterize --source 241Am Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1 --out c --threads 0
tarvik characterize --source 241Xx Tarvik_data/W80kV_2.5mmAl_direct.csv --kev-per-channel 0.1 --out c
tarvik characterize --source 241Am missing.csv --kev-per-channel 0.1 --out c
ls c
tarvik strip --kv 80 --kev-per-channel 0.1 --res nowhere Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik strip --kv 80 --kev-per-channel 0.1 --res RES --outdir . --force Tarvik_data/W80kV_2.5mmAl_direct.csv
tarvik quality --res RES Tarvik_data/W80kV_2.5mmAl_direct.mca1

# ---- quality: times and rates
tarvik quality --aperture-mm2 0 x.mca1
tarvik quality --aperture-mm2 -1 x.mca1
tarvik quality --aperture-mm2 abc x.mca1
tarvik quality --mas 0 x.mca1
tarvik quality --mas 10 --kv 80 --angle 90 --length-mm 10 --scatterer PMMA x.csv
printf '<<PMCA SPECTRUM>>\r\nLIVE_TIME - 9\r\nREAL_TIME - 10\r\n<<DATA>>\r\n0\r\n0\r\n500\r\n800\r\n600\r\n300\r\n100\r\n0\r\n<<END>>\r\n' > timed.mca; tarvik quality --resamples 0 --kev-per-channel 10 timed.mca; tarvik quality --resamples 20 --kev-per-channel 10 --aperture-mm2 0.5 --mas 40 timed.mca; tarvik quality --json --resamples 0 --kev-per-channel 10 --mas 40 timed.mca; rm timed.mca
